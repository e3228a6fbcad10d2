// The neighbour table written over rtnetlink, in a network namespace of the
// test's own: what "arp -s" and "arp -d" leave in the table, and what each
// call says when it may not or cannot change it.
#include <gtest/gtest.h>
#include <linux/capability.h>

#include "platform/neighbour_table.h"
#include "platform/system_commands.h"
#include "test_namespace.h"

namespace tessel {
namespace {

using test::TestNamespace;

constexpr std::array<std::uint8_t, 6> kServer{0x0A, 0x1B, 0x2C, 0x01, 0x02, 0xFE};
constexpr std::array<std::uint8_t, 6> kOther{0x0A, 0x1B, 0x2C, 0x00, 0x00, 0x01};

// Two links of the namespace's own, each with an address, so that one
// address can have an entry on both.
bool MakeLinks(TestNamespace& ns)
{
    return ns.Exec("ip link add nb0 type veth peer name nb1") == 0 && ns.Exec("ip addr add 192.0.2.1/24 dev nb0") == 0 &&
           ns.Exec("ip addr add 198.51.100.1/24 dev nb1") == 0 && ns.Exec("ip link set nb0 up") == 0 &&
           ns.Exec("ip link set nb1 up") == 0;
}

TEST(NeighbourTable, PermanentEntriesAreWrittenReplacedAndRemovedEverywhere)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    if (!MakeLinks(ns)) GTEST_SKIP() << "needs veth links inside the test's namespace";
    NeighbourResult first{}, replaced{}, onOther{}, removed{}, again{};
    ASSERT_TRUE(ns.RunInside([&] {
        first = SetPermanentNeighbour("192.0.2.9", kOther, "nb0");
        replaced = SetPermanentNeighbour("192.0.2.9", kServer, "nb0");
        onOther = SetPermanentNeighbour("192.0.2.9", kOther, "nb1");
    }));
    const std::string written = ns.Output("ip neigh show to 192.0.2.9");
    ASSERT_TRUE(ns.RunInside([&] {
        removed = DeleteNeighbourEntries("192.0.2.9");
        again = DeleteNeighbourEntries("192.0.2.9");
    }));
    EXPECT_EQ(first, NeighbourResult::Done);
    EXPECT_EQ(replaced, NeighbourResult::Done);
    EXPECT_EQ(onOther, NeighbourResult::Done);
    EXPECT_NE(written.find("192.0.2.9 dev nb0 lladdr 0a:1b:2c:01:02:fe PERMANENT"), std::string::npos) << written;
    EXPECT_NE(written.find("192.0.2.9 dev nb1 lladdr 0a:1b:2c:00:00:01 PERMANENT"), std::string::npos) << written;
    EXPECT_EQ(removed, NeighbourResult::Done);
    EXPECT_EQ(ns.Output("ip neigh show to 192.0.2.9"), "");
    EXPECT_EQ(again, NeighbourResult::Done) << "nothing to remove is no failure";
}

TEST(NeighbourTable, WithoutCapNetAdminNothingChangesAndTheCallSaysSo)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    if (!MakeLinks(ns)) GTEST_SKIP() << "needs veth links inside the test's namespace";
    ASSERT_EQ(ns.Exec("ip neigh replace 192.0.2.9 lladdr 0a:1b:2c:00:00:01 nud permanent dev nb0"), 0);
    NeighbourResult add{}, remove{}, removeNothing{}, unknownDevice{}, badAddress{};
    bool dropped = false;
    ASSERT_TRUE(ns.RunInside([&] {
        unknownDevice = SetPermanentNeighbour("192.0.2.9", kServer, "nosuch0");
        badAddress = DeleteNeighbourEntries("192.0.2");
        dropped = test::DropCapabilities({CAP_NET_ADMIN});
        add = SetPermanentNeighbour("192.0.2.10", kServer, "nb0");
        remove = DeleteNeighbourEntries("192.0.2.9");
        removeNothing = DeleteNeighbourEntries("192.0.2.11");
    }));
    ASSERT_TRUE(dropped);
    EXPECT_EQ(unknownDevice, NeighbourResult::Failed);
    EXPECT_EQ(badAddress, NeighbourResult::Failed);
    EXPECT_EQ(add, NeighbourResult::NotPermitted);
    EXPECT_EQ(remove, NeighbourResult::NotPermitted);
    EXPECT_EQ(removeNothing, NeighbourResult::Done);
    EXPECT_NE(ns.Output("ip neigh show to 192.0.2.9").find("PERMANENT"), std::string::npos);
    EXPECT_EQ(ns.Output("ip neigh show to 192.0.2.10"), "");
}

TEST(NeighbourTable, SerialNumbersAsHardwareAddresses)
{
    const std::array<std::uint8_t, 6> expected{0x0A, 0x1B, 0x2C, 0x01, 0x02, 0xFE};
    EXPECT_EQ(SerialToHardwareAddress("0A-1B-2C-01-02-FE"), expected);
    EXPECT_EQ(SerialToHardwareAddress("0a:1b:2c:01:02:fe"), expected);
    for (const char* bad : {"", "0A-1B-2C-01-02", "0A-1B-2C-01-02-FEE", "0A-1B-2C-01-02-FG", "0A 1B 2C 01 02 FE"})
        EXPECT_FALSE(SerialToHardwareAddress(bad)) << bad;
}

}  // namespace
}  // namespace tessel
