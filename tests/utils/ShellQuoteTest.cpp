// Panel-given texts reach root's shell command lines quoted by sh_quote;
// each quoted text is read back through a real /bin/sh (lists split at commas
// and dashes are covered by the DomainKeys and handler-name tests in tests/mail).
#include "utils/ShellQuote.h"
#include "sandbox/CommandRunner.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

std::string echoedByShell(const std::string& word) {
    return test::runCommand({"/bin/sh", "-c", "printf %s " + word}).out;
}

TEST(ShellQuoteTest, ShellReadsEveryByteBackAsOneWord) {
    for (int byte = 1; byte < 256; ++byte) {
        const std::string text = std::string(1, static_cast<char>(byte)) + "x" +
                                 static_cast<char>(byte) + static_cast<char>(byte);
        EXPECT_EQ(echoedByShell(sh_quote(text)), text) << "byte " << byte;
    }
    const std::string all = "~root $(id) `id` ${HOME} a;b|c&d<e>f 'g' \"h\" #i *? [j] \\k\tl\nm";
    EXPECT_EQ(echoedByShell(sh_quote(all)), all);
    EXPECT_EQ(echoedByShell(sh_quote(sh_quote(all))), sh_quote(all)) << "quoting twice nests";
    EXPECT_EQ(sh_quote("Grüße-ok_1.2,3=4%+@!{}"), "Grüße-ok_1.2,3=4%+@!{}");
}

} // namespace
} // namespace korvo
