// Mail homes made by the real MaildirManager, popuser's ids, and a directory
// outside every home for planted links to point at.
#ifndef KORVO_TESTS_MAIL_STORAGE_STORAGEFIXTURE_H
#define KORVO_TESTS_MAIL_STORAGE_STORAGEFIXTURE_H

#include "mail/storage/MaildirManager.h"
#include "sandbox/CommandRunner.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::test {

// A mail home made by the real MaildirManager; returns its path.
inline std::string makeHome(const std::string& domain, const std::string& mailname) {
    mail::MaildirManager::getInstance().createMailnameHome(domain, mailname);
    return mail::MaildirManager::getInstance().getMailnameHome(domain, mailname);
}

class StorageTest : public SandboxTest {
protected:
    static constexpr const char* root = "/var/qmail/mailnames";
    static constexpr const char* outside = "/etc/orq/outside";

    void SetUp() override {
        SandboxTest::SetUp();
        const passwd* entry = ::getpwnam("popuser");
        ASSERT_NE(entry, nullptr);
        popUid = entry->pw_uid;
        popGid = entry->pw_gid;
        const std::string dir = outside;
        ASSERT_EQ(shell("mkdir -p " + dir + "/dir && echo precious > " + dir +
                        "/victim && chmod 640 " + dir + "/victim && echo inner > " + dir +
                        "/dir/inner"),
                  0);
    }

    static mail::MaildirManager& manager() { return mail::MaildirManager::getInstance(); }

    // Every entry below outside with its type, mode, owner, size and content.
    static std::string outsideState() {
        return runCommand({"/usr/bin/find", outside, "-printf", "%p %y %m %U:%G %s\n", "-type", "f",
                           "-exec", "cat", "{}", ";"})
            .out;
    }

    uid_t popUid = 0;
    gid_t popGid = 0;
};

} // namespace korvo::test

#endif
