// Masks, labels and MACs as the kernel has them; the first address feeding
// mynetworks is covered in tests/postfix/config.
#include "utils/IfaceInfo.h"
#include "sandbox/Sandbox.h"
#include "sandbox/TestFiles.h"

#include <memory>

namespace korvo::test {
namespace {

using IfaceInfoTest = SandboxTest;

TEST_F(IfaceInfoTest, ListsAddressesWithMasksAndMacsButNoLoopback) {
    ASSERT_EQ(shell("ip link add v0 type veth peer name v1 && ip link set v0 up && "
                    "ip addr add 192.0.2.5/24 dev v0 && "
                    "ip addr add 198.51.100.7/16 dev v0 label v0:1 && "
                    "ip addr add 203.0.113.9/32 dev lo && "
                    "ip -br link show v0 | awk '{printf \"%s\", $3}' > /var/lib/korvo/mac"),
              0);
    int count = -1;
    const std::unique_ptr<ifaceinfo, void (*)(ifaceinfo*)> list(get_ifaceinfo(&count),
                                                                free_ifaceinfo);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(list.get()[3].name[0], '\0');
    const std::string mac = readFile("/var/lib/korvo/mac");
    const std::string expected[] = {"lo 203.0.113.9 255.255.255.255 00:00:00:00:00:00",
                                    "v0 192.0.2.5 255.255.255.0 " + mac,
                                    "v0:1 198.51.100.7 255.255.0.0 "};
    for (int i = 0; i < 3; ++i) {
        const ifaceinfo& info = list.get()[i];
        EXPECT_EQ(std::string(info.name) + " " + info.ip + " " + info.mask + " " + info.mac,
                  expected[i]);
    }
}

} // namespace
} // namespace korvo::test
