// The attachment commands on real mail homes in the sandbox.
#include "CommandFixture.h"

#include <set>

namespace korvo::test {
namespace {

const std::string homes = "/var/qmail/mailnames/xn--bcher-kva.example/";
const std::string idnDomain = "--domain-name=b\xc3\xbc"
                              "cher.example";
const std::string upload = "/var/lib/korvo/upload.txt";

class AttachmentCommandsTest : public SandboxTest {
protected:
    // Mail homes of info and sales with their stores, owned as the tool makes them.
    void SetUp() override {
        SandboxTest::SetUp();
        ASSERT_EQ(shell("mkdir -p " + homes + "info/@attachments " + homes +
                        "sales/@attachments && chown -R popuser:popuser /var/qmail/mailnames"),
                  0);
        writeFile(upload, "hello");
    }
};

TEST_F(AttachmentCommandsTest, AddListAndRemove) {
    const CommandResult add =
        runVornctl({"--add-attachment", idnDomain, "--mailname=info", "--file-name=" + upload,
                    "--attachment-file-name=Report 1 (final).pdf"});
    ASSERT_EQ(add.status, 0) << add.err;
    const std::string stored = homes + "info/@attachments/Report 1 (final).pdf";
    EXPECT_EQ(readFile(stored), "hello");
    EXPECT_EQ(statOf(stored).st_mode & 07777, 0644u);
    ASSERT_EQ(runVornctl({"--add-attachment", idnDomain, "--mailname=sales",
                          "--file-name=" + upload, "--attachment-file-name=price.txt"})
                  .status,
              0);

    EXPECT_EQ(runVornctl({"--list-attachments", idnDomain, "--mailname=info"}).out,
              "Report 1 (final).pdf\t5\n");
    const CommandResult all =
        runVornctl({"--list-attachments", idnDomain, "--mail-all", "--fullname"});
    EXPECT_EQ(all.status, 0);
    std::istringstream listed(all.out);
    std::set<std::string> lines;
    for (std::string line; std::getline(listed, line);)
        lines.insert(line);
    EXPECT_EQ(lines, (std::set<std::string>{homes + "info/@attachments/Report 1 (final).pdf\t5",
                                            homes + "sales/@attachments/price.txt\t5"}));

    // Removal is idempotent.
    for (int round = 0; round < 2; ++round) {
        const CommandResult remove =
            runVornctl({"--remove-attachment", idnDomain, "--mailname=info",
                        "--attachment-file-name=Report 1 (final).pdf"});
        EXPECT_EQ(remove.status, 0) << remove.err;
        EXPECT_EQ(remove.out, "");
    }
    EXPECT_NE(::access(stored.c_str(), F_OK), 0);
    EXPECT_EQ(runVornctl({"--list-attachments", idnDomain, "--mailname=info"}).out, "");
    EXPECT_EQ(runVornctl({"--add-attachment", idnDomain, "--mailname=info",
                          "--file-name=/var/lib/korvo/missing", "--attachment-file-name=x"})
                  .status,
              1);

    // Exactly one of --mailname and --mail-all.
    const CommandResult neither = runVornctl({"--list-attachments", idnDomain});
    EXPECT_EQ(neither.status, 1);
    EXPECT_EQ(neither.err.rfind("neither --mailname nor --mail-all are specified\n"
                                "list attachments\nUsage: --list-attachments [--in-blocks]",
                                0),
              0u)
        << neither.err;
    EXPECT_EQ(neither.out, neither.err);
    const CommandResult both =
        runVornctl({"--list-attachments", idnDomain, "--mail-all", "--mailname=info"});
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.err.rfind("you should not use --mailname and --mail-all together\n", 0), 0u);
}

TEST_F(AttachmentCommandsTest, HostileNamesChangeNothing) {
    ASSERT_EQ(runVornctl({"--add-attachment", idnDomain, "--mailname=info", "--file-name=" + upload,
                          "--attachment-file-name=kept.txt"})
                  .status,
              0);
    expectHostileNamesRefused({"--add-attachment", "--domain-name=NAME", "--mailname=info",
                               "--file-name=" + upload, "--attachment-file-name=a.txt"});
    expectHostileNamesRefused(
        {"--remove-attachment", idnDomain, "--mailname=NAME", "--attachment-file-name=kept.txt"});
    expectHostileNamesRefused({"--list-attachments", idnDomain, "--mailname=NAME"});
    // Blanks and quotes are fine in an attachment's name; paths and control bytes are not.
    expectHostileNamesRefused(
        {"--remove-attachment", idnDomain, "--mailname=info", "--attachment-file-name=NAME"},
        {"/", "..", "../../etc/passwd", "a/b", "a\nb", "a\tb", std::string(300, 'x'), "\xff\xfe"});
    expectHostileNamesRefused({"--add-attachment", idnDomain, "--mailname=info", "--file-name=NAME",
                               "--attachment-file-name=a.txt"},
                              {"a\nb", "\xff\xfe"});
}

} // namespace
} // namespace korvo::test
