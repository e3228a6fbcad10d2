// The neighbour table written over rtnetlink, in a network namespace of the
// test's own: what "arp -s" and "arp -d" leave in the table next to entries
// the program did not make, what each call says when it may not or cannot
// change it, and that cap_net_admin is effective only during the request.
#include <gtest/gtest.h>
#include <linux/capability.h>

#include <fstream>

#include "platform/neighbour_table.h"
#include "platform/net_steps.h"
#include "platform/privileges.h"
#include "platform/system_commands.h"
#include "test_namespace.h"

namespace tessel {
namespace {

using tessel::testing::TestNamespace;

constexpr std::array<std::uint8_t, 6> kServer{0x0A, 0x1B, 0x2C, 0x01, 0x02, 0xFE};
constexpr std::array<std::uint8_t, 6> kOther{0x0A, 0x1B, 0x2C, 0x00, 0x00, 0x01};
// Ours: for the kernel to check again, tagged with Tessel's number.
constexpr const char* kServerText = "lladdr 0a:1b:2c:01:02:fe STALE proto 116";

// Two links of the namespace's own, each with an address, so that one
// address can have an entry on both.
bool MakeLinks(TestNamespace& ns)
{
    return ns.Exec("ip link add nb0 type veth peer name nb1") == 0 &&
           ns.Exec("ip addr add 192.0.2.1/24 dev nb0") == 0 && ns.Exec("ip addr add 198.51.100.1/24 dev nb1") == 0 &&
           ns.Exec("ip link set nb0 up") == 0 && ns.Exec("ip link set nb1 up") == 0;
}

// The calling thread's effective set, as /proc shows it to anyone.
std::uint64_t EffectiveCapabilities()
{
    std::ifstream status("/proc/thread-self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("CapEff:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
    return ~0ULL;
}

bool Holds(std::uint64_t set, int capability)
{
    return (set >> capability & 1U) != 0;
}

TEST(NeighbourTable, TheFallbackWritesAndRemovesOnlyItsOwnEntry)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    if (!MakeLinks(ns)) GTEST_SKIP() << "needs veth links inside the test's namespace";
    struct Case {
        const char* before;  // what `ip neigh replace` made first ("" for nothing)
        NeighbourResult added;
        bool written;       // the program's permanent entry was in the table
        const char* after;  // what remains of the entry after "arp -d"
    };
    const Case cases[] = {
        {"", NeighbourResult::Done, true, ""},
        {"lladdr 0a:1b:2c:00:00:01 nud permanent", NeighbourResult::Kept, false, "lladdr 0a:1b:2c:00:00:01 PERMANENT"},
        {"lladdr 0a:1b:2c:00:00:01 nud stale", NeighbourResult::Kept, false, "lladdr 0a:1b:2c:00:00:01 STALE"},
        {"lladdr 0a:1b:2c:01:02:fe nud stale", NeighbourResult::Done, false, "lladdr 0a:1b:2c:01:02:fe STALE"},
        {"nud failed", NeighbourResult::Done, true, ""},
        {"nud incomplete", NeighbourResult::Done, true, ""},
        // another helper's, failed: written again, its lifetime would start over
        {"nud failed proto 116", NeighbourResult::Kept, false, "FAILED proto 116"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string address = "192.0.2." + std::to_string(20 + n++);
        if (*c.before) {
            ASSERT_EQ(ns.Exec("ip neigh replace " + address + " " + c.before + " dev nb0"), 0) << c.before;
        }
        NeighbourResult added{}, removed{};
        std::string written;
        ASSERT_TRUE(ns.RunInside([&] {
            added = AddOwnNeighbour(address, kServer, "nb0");
            written = ns.Output("ip neigh show to " + address);
            removed = RemoveOwnNeighbours(address);
        }));
        const std::string after = ns.Output("ip neigh show to " + address);
        EXPECT_EQ(added, c.added) << c.before;
        EXPECT_EQ(written.find(kServerText) != std::string::npos, c.written) << c.before << ": " << written;
        EXPECT_EQ(removed, NeighbourResult::Done) << c.before;
        EXPECT_EQ(after, *c.after ? address + " dev nb0 " + c.after + " \n" : "") << c.before;
    }
}

TEST(NeighbourTable, EntriesOfOthersForTheSameAddressAreLeftAlone)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    if (!MakeLinks(ns)) GTEST_SKIP() << "needs veth links inside the test's namespace";
    // An administrator's entry on the other link, and one that replaces ours
    // between "arp -s" and "arp -d".
    ASSERT_EQ(ns.Exec("ip neigh replace 192.0.2.9 lladdr 0a:1b:2c:00:00:01 nud permanent dev nb1"), 0);
    NeighbourResult first{}, again{}, removed{}, secondAdded{}, secondRemoved{};
    ASSERT_TRUE(ns.RunInside([&] {
        first = AddOwnNeighbour("192.0.2.9", kOther, "nb0");
        again = AddOwnNeighbour("192.0.2.9", kServer, "nb0");  // ours: may be replaced
        removed = RemoveOwnNeighbours("192.0.2.9");
        secondAdded = AddOwnNeighbour("192.0.2.10", kServer, "nb0");
    }));
    const std::string afterFirst = ns.Output("ip neigh show to 192.0.2.9");
    ASSERT_EQ(ns.Exec("ip neigh replace 192.0.2.10 lladdr 0a:1b:2c:00:00:01 nud permanent dev nb0"), 0);
    ASSERT_TRUE(ns.RunInside([&] { secondRemoved = RemoveOwnNeighbours("192.0.2.10"); }));
    EXPECT_EQ(first, NeighbourResult::Done);
    EXPECT_EQ(again, NeighbourResult::Done);
    EXPECT_EQ(removed, NeighbourResult::Done);
    EXPECT_EQ(afterFirst, "192.0.2.9 dev nb1 lladdr 0a:1b:2c:00:00:01 PERMANENT \n");
    EXPECT_EQ(secondAdded, NeighbourResult::Done);
    EXPECT_EQ(secondRemoved, NeighbourResult::Done);
    // The kernel keeps the originator's number when another replaces the entry.
    EXPECT_EQ(ns.Output("ip neigh show to 192.0.2.10"),
              "192.0.2.10 dev nb0 lladdr 0a:1b:2c:00:00:01 PERMANENT proto 116 \n");
}

TEST(NeighbourTable, WithoutCapNetAdminNothingChangesAndTheCallSaysSo)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    if (!MakeLinks(ns)) GTEST_SKIP() << "needs veth links inside the test's namespace";
    NeighbourResult ours{}, add{}, remove{}, removeNothing{}, unknownDevice{}, badAddress{}, later{};
    bool dropped = false;
    ASSERT_TRUE(ns.RunInside([&] {
        unknownDevice = AddOwnNeighbour("192.0.2.9", kServer, "nosuch0");
        badAddress = RemoveOwnNeighbours("192.0.2");
        ours = AddOwnNeighbour("192.0.2.12", kServer, "nb0");
    }));
    ASSERT_TRUE(ns.RunInside([&] {
        dropped = tessel::testing::DropCapabilities({CAP_NET_ADMIN});
        add = AddOwnNeighbour("192.0.2.11", kServer, "nb0");
        remove = RemoveOwnNeighbours("192.0.2.12");
        removeNothing = RemoveOwnNeighbours("192.0.2.13");
    }));
    const std::string refusedRemoval = ns.Output("ip neigh show to 192.0.2.12");
    // A refused removal is remembered: a later "arp -d" with the right works.
    ASSERT_TRUE(ns.RunInside([&] { later = RemoveOwnNeighbours("192.0.2.12"); }));
    ASSERT_TRUE(dropped);
    EXPECT_EQ(unknownDevice, NeighbourResult::Refused);
    EXPECT_EQ(badAddress, NeighbourResult::Failed);
    EXPECT_EQ(ours, NeighbourResult::Done);
    EXPECT_EQ(add, NeighbourResult::NotPermitted);
    EXPECT_EQ(remove, NeighbourResult::NotPermitted);
    EXPECT_EQ(removeNothing, NeighbourResult::Done);
    EXPECT_NE(refusedRemoval.find(kServerText), std::string::npos) << refusedRemoval;
    EXPECT_EQ(ns.Output("ip neigh show to 192.0.2.11"), "");
    EXPECT_EQ(later, NeighbourResult::Done);
    EXPECT_EQ(ns.Output("ip neigh show to 192.0.2.12"), "");
}

TestNamespace* g_raceNamespace = nullptr;

void AnotherProgramAddsItsEntry()
{
    g_raceNamespace->Exec("ip neigh add 192.0.2.15 lladdr 0a:1b:2c:00:00:01 nud permanent dev nb0");
}

TEST(NeighbourTable, AnEntryMadeWhileTheTableIsReadIsNeitherReplacedNorRemoved)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    if (!MakeLinks(ns)) GTEST_SKIP() << "needs veth links inside the test's namespace";
    // Between the program's reading of the table (no entry) and its
    // change, another program writes its own entry for the address.
    g_raceNamespace = &ns;
    NeighbourResult added{}, removed{};
    ASSERT_TRUE(ns.RunInside([&] {
        here::SetAfterNeighbourReadForTest(&AnotherProgramAddsItsEntry);
        added = AddOwnNeighbour("192.0.2.15", kServer, "nb0");
        here::SetAfterNeighbourReadForTest(nullptr);
        removed = RemoveOwnNeighbours("192.0.2.15");
    }));
    EXPECT_EQ(added, NeighbourResult::Kept);
    EXPECT_EQ(removed, NeighbourResult::Done);
    EXPECT_NE(ns.Output("ip neigh show to 192.0.2.15").find("lladdr 0a:1b:2c:00:00:01 PERMANENT"), std::string::npos)
        << ns.Output("ip neigh show to 192.0.2.15");
}

TEST(NeighbourTable, CapNetAdminIsEffectiveOnlyDuringTheRequest)
{
    TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    if (!MakeLinks(ns)) GTEST_SKIP() << "needs veth links inside the test's namespace";
    std::uint64_t lowered = 0, raised = 0, after = 0;
    NeighbourResult added{}, removed{};
    ASSERT_TRUE(ns.RunInside([&] {
        LowerNetworkRights();
        lowered = EffectiveCapabilities();
        {
            const RaisedRight right(NetworkRight::NeighbourTable);
            raised = EffectiveCapabilities();
        }
        added = AddOwnNeighbour("192.0.2.14", kServer, "nb0");
        removed = RemoveOwnNeighbours("192.0.2.14");
        after = EffectiveCapabilities();
    }));
    for (const int capability : {CAP_NET_BIND_SERVICE, CAP_NET_RAW, CAP_NET_ADMIN}) {
        EXPECT_FALSE(Holds(lowered, capability)) << capability;
        EXPECT_FALSE(Holds(after, capability)) << capability;
    }
    EXPECT_TRUE(Holds(raised, CAP_NET_ADMIN));
    EXPECT_FALSE(Holds(raised, CAP_NET_RAW));
    EXPECT_EQ(added, NeighbourResult::Done);
    EXPECT_EQ(removed, NeighbourResult::Done);
}

TEST(NeighbourTable, OnlyAnotherHostOfTheInterfacesOwnNetworkGetsAnEntry)
{
    NeighbourFacts facts;
    facts.found = true;
    facts.type = 1;        // ARPHRD_ETHER
    facts.flags = 0x1043;  // IFF_UP | IFF_BROADCAST | IFF_RUNNING | IFF_MULTICAST
    facts.networks = {{0xC0000201, 24, 0xC00002FF}, {0x0A000001, 30, 0}, {0x0B000001, 32, 0}};
    facts.hostAddresses = {0xC0000201, 0x0A000001, 0x0B000001, 0xC6336401};
    facts.gateways = {0xC00002FE, 0xC00002FD};
    struct Case {
        std::uint32_t address;
        unsigned flags;
        std::uint16_t type;
        const char* refusal;
    };
    const Case cases[] = {
        {0xC0000207, 0x1043, 1, ""},
        {0x0A000002, 0x1043, 1, ""},
        {0xC0000207, 0x1049, 1, "loopback interface"},  // IFF_LOOPBACK
        {0xC0000207, 0x1053, 1, "point-to-point interface"},
        {0xC0000207, 0x10C3, 1, "interface without ARP"},
        {0xC0000207, 0x1043, 772, "not an Ethernet interface"},
        {0xC0000207, 0x1042, 1, "interface down"},
        {0xC0000200, 0x1043, 1, "the network's own address"},
        {0xC00002FF, 0x1043, 1, "the network's broadcast address"},
        {0x0A000003, 0x1043, 1, "the network's broadcast address"},
        {0x0B000002, 0x1043, 1, "not in a network of the interface"},  // a /32 has no other host
        {0xC6336402, 0x1043, 1, "not in a network of the interface"},
        {0xC0000201, 0x1043, 1, "an address of this computer"},
        {0xC00002FE, 0x1043, 1, "a gateway of a route"},
        {0xC00002FD, 0x1043, 1, "a gateway of a route"},
    };
    for (const Case& c : cases) {
        facts.flags = c.flags;
        facts.type = c.type;
        EXPECT_EQ(NeighbourRefusal(facts, c.address), c.refusal) << std::hex << c.address << " " << c.flags;
    }
    facts.found = false;
    EXPECT_EQ(NeighbourRefusal(facts, 0xC0000207), "no such interface");
}

// The tagged entries of every helper on the computer, in a table of the
// test's: which go, and whether one more fits.
class FakeTaggedTable {
public:
    std::vector<TaggedEntry> entries;
    bool readable = true;
    bool removable = true;

    bool Read(std::vector<TaggedEntry>& out)
    {
        out = entries;
        return readable;
    }
    bool Remove(const TaggedEntry& entry)
    {
        if (!removable) return false;
        std::erase_if(entries, [&](const TaggedEntry& e) {
            return e.address == entry.address && e.interfaceIndex == entry.interfaceIndex;
        });
        return true;
    }
};

TEST(NeighbourTable, TheWholeTableHoldsAtMostTheCapAndNothingPastItsLifetime)
{
    constexpr std::uint32_t kWanted = 0xC0000263;
    constexpr std::int64_t kLifetime = kOwnNeighbourLifetimeMs;
    struct Case {
        const char* what;
        std::size_t live, expired;  // others' entries, on interface 2
        bool wantedThere;           // the wanted address already has one (a re-add)
        bool removable;
        std::optional<bool> room;
        std::size_t left;
    };
    const Case cases[] = {
        {"empty", 0, 0, false, true, true, 0},
        {"one below the cap", kMaxTaggedNeighbours - 1, 0, false, true, true, kMaxTaggedNeighbours - 1},
        {"at the cap", kMaxTaggedNeighbours, 0, false, true, false, kMaxTaggedNeighbours},
        {"the expired go first", kMaxTaggedNeighbours - 1, 40, false, true, true, kMaxTaggedNeighbours - 1},
        {"the entry itself does not count", kMaxTaggedNeighbours - 1, 0, true, true, true, kMaxTaggedNeighbours},
        {"expired but not removable: counted", 4, kMaxTaggedNeighbours, false, false, false, 4 + kMaxTaggedNeighbours},
    };
    for (const Case& c : cases) {
        FakeTaggedTable table;
        table.removable = c.removable;
        for (std::size_t i = 0; i < c.live; ++i)
            table.entries.push_back({0xC0000200 + static_cast<std::uint32_t>(i), 2, kLifetime - 1});
        for (std::size_t i = 0; i < c.expired; ++i)
            table.entries.push_back(
                {0xC0000280 + static_cast<std::uint32_t>(i), 2, kLifetime + 1000 * static_cast<std::int64_t>(i % 2)});
        if (c.wantedThere) table.entries.push_back({kWanted, 2, 0});
        EXPECT_EQ(RoomForTaggedEntry(table, kWanted, 2), c.room) << c.what;
        EXPECT_EQ(table.entries.size(), c.left) << c.what;
        for (const TaggedEntry& e : table.entries)
            EXPECT_TRUE(!c.removable || e.ageMs < kLifetime) << c.what << ": " << std::hex << e.address;
    }
    FakeTaggedTable unreadable;
    unreadable.readable = false;
    EXPECT_EQ(RoomForTaggedEntry(unreadable, kWanted, 2), std::nullopt);
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
