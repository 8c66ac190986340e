#include "postfix/tables/PostfixUtilities.h"
#include "process/Pipe.h"

#include "TableFixture.h"

#include <sys/wait.h>

namespace korvo::mail::postfix {
namespace {

using test::LookupTableTest;

// A killed program prints nothing: the collected text names it and the
// signal after whatever it wrote; a plain failure keeps its own text.
TEST_F(LookupTableTest, KilledProgramIsNamedWithItsSignal) {
    process::Pipe killed(process::Parameters<process::PipeProcessFlags>(
        "/bin/sh", "-c", "printf 'said' >&2; kill -9 $$", "", "", "", "", "", "", ""));
    std::string errors;
    EXPECT_TRUE(WIFSIGNALED(utilities::runCollectingErrors(killed, errors)));
    EXPECT_EQ(utilities::errorMessage(errors), "said\nsh killed by signal 9");

    process::Pipe failing(process::Parameters<process::PipeProcessFlags>(
        "/bin/sh", "-c", "exit 3", "", "", "", "", "", "", ""));
    errors.clear();
    EXPECT_FALSE(utilities::exitedSuccessfully(utilities::runCollectingErrors(failing, errors)));
    EXPECT_EQ(utilities::errorMessage(errors), "unknown error");
}

} // namespace
} // namespace korvo::mail::postfix
