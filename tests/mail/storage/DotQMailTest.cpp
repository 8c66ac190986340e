// .qmail through the mailname manager's sequences: lines, owner and mode.
#include "StorageFixture.h"

#include "mail/storage/DotQMail.h"
#include "mail/storage/DotQMailManager.h"
#include "utils/Exceptions.h"

#include <atomic>
#include <thread>

namespace {

using korvo::mail::DotQMailManager;
using namespace korvo::test;

const std::string delivery = "| /usr/bin/deliverquota ./Maildir\n";

class DotQMailTest : public StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        path = makeHome("example.com", "info") + "/.qmail";
    }

    // The content, after checking that every change leaves popuser's 0600 file.
    std::string content() {
        const struct stat st = statOf(path);
        EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & 07777) == 0600 && st.st_uid == popUid &&
                    st.st_gid == popGid);
        return readFile(path);
    }

    std::string path;
};

TEST_F(DotQMailTest, DeliveryAndForwardsKeepTheirOrderAndNeverRepeat) {
    const DotQMailManager qmail(path);
    // Edits of a missing file fail; an added forward creates it.
    EXPECT_THROW(qmail.disableDelivery(), korvo::SystemError);
    EXPECT_THROW(qmail.removeRedirect("a@example.org"), korvo::SystemError);
    EXPECT_EQ(dotqmail_add_forward(path.c_str(), "a@example.org"), 0);
    EXPECT_EQ(content(), "&a@example.org\n");
    qmail.reset();
    EXPECT_EQ(content(), "| true\n");
    qmail.enableDelivery();
    qmail.enableDelivery();
    qmail.addRedirect("a@example.org", DotQMailManager::Default);
    qmail.addRedirect("b@example.org", DotQMailManager::AtBeginning);
    EXPECT_EQ(content(), "| true\n" + delivery + "&a@example.org\n&b@example.org\n");
    // Adding again moves the line to the end; so does enabling delivery.
    qmail.addRedirect("a@example.org", DotQMailManager::Default);
    qmail.enableDelivery();
    EXPECT_EQ(content(), "| true\n&b@example.org\n&a@example.org\n" + delivery);
    qmail.disableDelivery();
    qmail.removeRedirect("b@example.org");
    qmail.removeRedirect("nobody@example.org");
    EXPECT_EQ(content(), "| true\n&a@example.org\n");
    // International domains are stored in ASCII form; a line break never gets in.
    qmail.addRedirect("Jörg@bücher.example", DotQMailManager::Default);
    EXPECT_EQ(content(), "| true\n&a@example.org\n&Jörg@xn--bcher-kva.example\n");
    qmail.removeRedirect("Jörg@bücher.example");
    EXPECT_THROW(qmail.addRedirect("x@example.org\n|/bin/sh -c id", DotQMailManager::Default),
                 korvo::SystemError);
    qmail.reset();
    EXPECT_EQ(content(), "| true\n");
}

TEST_F(DotQMailTest, OldMaildirLineIsReplacedAndForeignOwnerReset) {
    writeFile(path, "| true\n./Maildir/\n&x@example.org\n");
    ASSERT_EQ(::chown(path.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    DotQMailManager(path).enableDelivery();
    EXPECT_EQ(content(), "| true\n&x@example.org\n" + delivery);
    writeFile(path, "| true\n./Maildir/\n");
    DotQMailManager(path).disableDelivery();
    EXPECT_EQ(content(), "| true\n");
}

// The delivery agent reads .qmail without a lock while the panel re-runs
// its commands: every read must find the lines both versions hold.
TEST_F(DotQMailTest, AReaderDuringRepeatedChangesAlwaysSeesEveryLine) {
    const DotQMailManager qmail(path);
    qmail.reset();
    qmail.enableDelivery();
    qmail.addRedirect("a@example.org", DotQMailManager::Default);
    std::atomic<bool> done{false};
    std::size_t reads = 0;
    std::size_t incomplete = 0;
    std::string example;
    std::thread reader([&] {
        while (!done) {
            const std::string text = readFile(path);
            ++reads;
            if (text.find(delivery) == std::string::npos ||
                text.find("&a@example.org\n") == std::string::npos) {
                ++incomplete;
                example = text;
            }
        }
    });
    for (int run = 0; run < 100; ++run) {
        qmail.enableDelivery();
        qmail.addRedirect("a@example.org", DotQMailManager::Default);
    }
    done = true;
    reader.join();
    EXPECT_EQ(incomplete, 0u) << "of " << reads << " reads, e.g. [" << example << "]";
}

} // namespace
