// The attachment commands on real mail homes in the sandbox.
#include "CommandFixture.h"

#include <set>

namespace korvo::test {
namespace {

using AttachmentCommandsTest = SandboxTest;

TEST_F(AttachmentCommandsTest, AddListRemoveAndRefuse) {
    const std::string homes = "/var/qmail/mailnames/xn--bcher-kva.example/";
    const std::string idnDomain = "--domain-name=b\xc3\xbc"
                                  "cher.example";
    const std::string upload = "/var/lib/korvo/upload.txt";
    ASSERT_EQ(shell("mkdir -p " + homes + "info/@attachments " + homes +
                    "sales/@attachments && chown -R popuser:popuser /var/qmail/mailnames"),
              0);
    writeFile(upload, "hello");
    const auto add = [&](const std::string& mailname, const std::string& name) {
        return runVornctl({"--add-attachment", idnDomain, "--mailname=" + mailname,
                           "--file-name=" + upload, "--attachment-file-name=" + name});
    };
    ASSERT_EQ(add("info", "Report 1 (final).pdf").status, 0);
    ASSERT_EQ(add("sales", "price.txt").status, 0);
    const std::string stored = homes + "info/@attachments/Report 1 (final).pdf";
    EXPECT_EQ(readFile(stored), "hello");
    EXPECT_EQ(statOf(stored).st_mode & 07777, 0644u);
    EXPECT_EQ(runVornctl({"--list-attachments", idnDomain, "--mailname=info"}).out,
              "Report 1 (final).pdf\t5\n");
    const CommandResult all =
        runVornctl({"--list-attachments", idnDomain, "--mail-all", "--fullname"});
    EXPECT_EQ(all.status, 0);
    const std::vector<std::string> listed = lines(all.out);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
              (std::set<std::string>{stored + "\t5", homes + "sales/@attachments/price.txt\t5"}));

    // Removal is idempotent.
    for (int round = 0; round < 2; ++round) {
        const CommandResult remove =
            runVornctl({"--remove-attachment", idnDomain, "--mailname=info",
                        "--attachment-file-name=Report 1 (final).pdf"});
        EXPECT_EQ(remove.status, 0) << remove.err;
        EXPECT_EQ(remove.out, "");
    }
    EXPECT_NE(::access(stored.c_str(), F_OK), 0);

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

    EXPECT_EQ(runVornctl({"--add-attachment", idnDomain, "--mailname=info",
                          "--file-name=/var/lib/korvo/missing", "--attachment-file-name=x"})
                  .status,
              1);
    expectHostileNamesRefused({"--list-attachments", idnDomain, "--mailname=NAME"});
    expectHostileNamesRefused({"--add-attachment", idnDomain, "--mailname=info", "--file-name=NAME",
                               "--attachment-file-name=a.txt"},
                              {"a\nb", "\xff\xfe"});
}

} // namespace
} // namespace korvo::test
