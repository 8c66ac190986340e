// The autoresponder's rules without Postfix; its files in the mail home are
// never reached through a planted link.
#include "autoresponder/IncomingMessage.h"
#include "autoresponder/Reply.h"
#include "autoresponder/ReplyLog.h"
#include "handlers/HandlerRunner.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/UnnamedFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvo::test {
namespace {

using autoresponder::IncomingMessage;
using autoresponder::ReplyLog;

const std::string home = "/var/qmail/mailnames/example.com/info";

IncomingMessage parsed(const std::string& text) {
    const FdOwner file(korvo::createUnnamedFile("/var/tmp"));
    EXPECT_EQ(static_cast<ssize_t>(text.size()), ::write(file.get(), text.data(), text.size()));
    const FdOwner reader(korvo::reopenForReading(file.get()));
    return autoresponder::readHeader(reader.get());
}

std::string refusal(const std::string& header, const std::string& sender = "a@remote.example") {
    return autoresponder::replyRefusal(parsed(header + "\n\nbody\n"), sender);
}

class AutoresponderTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        ASSERT_EQ(0, shell("mkdir -p " + home + "/@attachments"));
        homeFd_ = ::open(home.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(homeFd_, 0);
    }
    void TearDown() override { ::close(homeFd_); }

    int homeFd_ = -1;
};

TEST_F(AutoresponderTest, OnlyPersonalMailFromARealSenderIsAnswered) {
    // What follows the first blank line is the body, not a field.
    for (const char* header : {"Subject: hi", "Auto-Submitted: no", "Precedence: first-class",
                               "Subject: hi\n\nList-Id: <news.example>"})
        EXPECT_EQ("", refusal(header)) << header;
    for (const char* header :
         {"Auto-Submitted: auto-replied", "AUTO-SUBMITTED: Auto-Generated; owner-email=x@y",
          "Precedence: bulk", "Precedence: List", "Precedence: junk", "List-Id: <news.example>"})
        EXPECT_NE("", refusal(header)) << header;
    for (const char* sender : {"", "<>", "MAILER-DAEMON@remote.example", "mailer-daemon"})
        EXPECT_NE("", refusal("Subject: hi", sender)) << sender;
}

TEST_F(AutoresponderTest, TheReplyRefersToTheMessageAndCarriesTheStoreFiles) {
    writeFile(home + "/@attachments/plan.txt", "plan");
    writeFile("/var/tmp/victim", "victim\n");
    ASSERT_EQ(0, ::symlink("/var/tmp/victim", (home + "/@attachments/secret").c_str()));
    autoresponder::ReplySettings settings;
    settings.text = "Away.";
    settings.files = {"plan.txt", "secret", "../../x", "gone.txt"};
    const FdOwner out(korvo::createUnnamedFile("/var/tmp"));
    // A folded field arrives unfolded.
    autoresponder::composeReply(
        out.get(), settings,
        parsed("Subject: Grüße\nMessage-ID: <m2@x>\nReferences: <m0@x>\r\n\t<m1@x>\n\n"),
        {"info@example.com", "john doe@remote.example"}, homeFd_);
    const std::string reply = readFile("/proc/self/fd/" + std::to_string(out.get()));
    for (const char* line :
         {"From: <info@example.com>\n", "To: <\"john doe\"@remote.example>\n",
          "Subject: =?UTF-8?B?UmU6IEdyw7zDn2U=?=\n", "Auto-Submitted: auto-replied\n",
          "In-Reply-To: <m2@x>\n", "References: <m0@x> <m1@x> <m2@x>\n", "Away.\n",
          "filename=\"plan.txt\"", "cGxhbg==\n"})
        EXPECT_NE(std::string::npos, reply.find(line)) << line << "\n" << reply;
    EXPECT_EQ(std::string::npos, reply.find("dmljdGltCg==")) << "followed the planted link";
    EXPECT_EQ(std::string::npos, reply.find("../../x"));
}

TEST_F(AutoresponderTest, OneReplyPerSenderAndIntervalThroughALinkSafeLog) {
    {
        ReplyLog log(homeFd_);
        EXPECT_FALSE(log.repliedWithin("a@remote.example", 3600, 1000));
        log.record("A@Remote.example", 3600, 1000);
        log.record("old@remote.example", 10, 500);
    }
    ReplyLog log(homeFd_);
    EXPECT_TRUE(log.repliedWithin("a@remote.example", 3600, 4599));
    EXPECT_FALSE(log.repliedWithin("a@remote.example", 3600, 4600));
    EXPECT_FALSE(log.repliedWithin("b@remote.example", 3600, 1001));
    // Entries older than the interval are dropped at the next record.
    log.record("b@remote.example", 10, 1005);
    EXPECT_EQ("1000 a@remote.example\n1005 b@remote.example\n",
              readFile(home + "/.autoresponder-replies"));

    // A link planted in place of the log or its lock is never followed.
    writeFile("/var/tmp/victim", "victim\n");
    for (const char* name : {"/.autoresponder-replies.lock", "/.autoresponder-replies.new"}) {
        shell("rm -f " + home + name);
        ASSERT_EQ(0, ::symlink("/var/tmp/victim", (home + name).c_str()));
    }
    EXPECT_THROW(ReplyLog{homeFd_}, std::exception);
    shell("rm -f " + home + "/.autoresponder-replies.lock");
    ReplyLog again(homeFd_);
    again.record("c@remote.example", 10, 2000);
    EXPECT_EQ("victim\n", readFile("/var/tmp/victim"));
    EXPECT_EQ("2000 c@remote.example\n", readFile(home + "/.autoresponder-replies"));
}

} // namespace
} // namespace korvo::test
