// Mail homes made by the real MaildirManager, popuser's ids, and a directory
// outside every home for planted links to point at.
#ifndef KORVO_TESTS_MAIL_STORAGE_STORAGEFIXTURE_H
#define KORVO_TESTS_MAIL_STORAGE_STORAGEFIXTURE_H

#include "mail/storage/MaildirManager.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <map>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace korvo::test {

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
        ASSERT_EQ(::mkdir(outside, 0755), 0);
        writeFile(std::string(outside) + "/victim", "precious\n");
        ASSERT_EQ(::chmod((std::string(outside) + "/victim").c_str(), 0640), 0);
        ASSERT_EQ(::mkdir((std::string(outside) + "/dir").c_str(), 0755), 0);
        writeFile(std::string(outside) + "/dir/inner", "inner\n");
    }

    static mail::MaildirManager& manager() { return mail::MaildirManager::getInstance(); }

    static std::string makeHome(const std::string& domain, const std::string& mailname) {
        manager().createMailnameHome(domain, mailname);
        return manager().getMailnameHome(domain, mailname);
    }

    // Every entry below outside with its type, mode, owner and content.
    static std::map<std::string, std::string> outsideState() {
        std::map<std::string, std::string> state;
        record(outside, state);
        return state;
    }

    uid_t popUid = 0;
    gid_t popGid = 0;

private:
    static void record(const std::string& path, std::map<std::string, std::string>& state) {
        const struct stat st = statOf(path);
        std::string line = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" +
                           std::to_string(st.st_gid) + " " + std::to_string(st.st_size);
        if (S_ISREG(st.st_mode))
            line += " " + readFile(path);
        state[path] = line;
        if (!S_ISDIR(st.st_mode))
            return;
        DIR* dir = ::opendir(path.c_str());
        while (const dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                record(path + "/" + name, state);
        }
        if (dir != nullptr)
            ::closedir(dir);
    }
};

} // namespace korvo::test

#endif
