// A TmpFile must lie beside its target (rename across file systems fails)
// and vanish after a failure.
#include "process/TmpFile.h"
#include "process/AutocleanOFStream.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"
#include "utils/Exceptions.h"

#include <cerrno>
#include <stdexcept>
#include <unistd.h>

namespace korvo {
namespace {

using test::readFile;
using TmpFileTest = test::SandboxTest;

TEST_F(TmpFileTest, KeptFilesReplaceTheTargetAndLostOnesVanish) {
    const std::string target = "/var/lib/korvo/master.cf";
    std::string name;
    {
        TmpFile tmp(target);
        tmp.exceptions(std::ios::badbit | std::ios::failbit);
        name = tmp.fileName();
        EXPECT_EQ(name.compare(0, target.size(), target), 0) << name;
        EXPECT_EQ(test::statOf(name).st_mode & 07777, 0600u);
        // More than the stream buffer holds, so some of it is written early.
        for (int i = 0; i < 500; ++i)
            tmp << "smtp inet n - - - - smtpd\n";
        tmp.setAutoclean(false);
        tmp.close();
        ASSERT_EQ(::rename(name.c_str(), target.c_str()), 0);
    }
    EXPECT_EQ(readFile(target).size(), 500u * 26);
    EXPECT_THROW(TmpFile("/var/lib/korvo/missing/master.cf"), ExSystemError<ENOENT>);
    try {
        TmpFile tmp(target);
        name = tmp.fileName();
        tmp << "partial";
        throw std::runtime_error("write failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_NE(::access(name.c_str(), F_OK), 0);

    // The autoclean stream deletes its file whatever happens, errno kept.
    const std::string dump = "/var/spool/postfix/korvo/virtual";
    {
        AutocleanOFStream out(dump);
        out << "info@example.com info@example.com\n" << std::flush;
        EXPECT_EQ(readFile(dump), "info@example.com info@example.com\n");
        errno = EPIPE;
    }
    EXPECT_EQ(errno, EPIPE);
    EXPECT_NE(::access(dump.c_str(), F_OK), 0);
    AutocleanOFStream missing("/var/lib/korvo/missing/dump");
    EXPECT_THROW(missing.exceptions(std::ios::failbit), std::ios_base::failure);
}

} // namespace
} // namespace korvo
