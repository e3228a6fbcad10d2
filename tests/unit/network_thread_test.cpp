// The receive loop's listing rules, filters, events and hand-over, on a
// scripted channel with virtual time.
#include "network_fixture.h"

#include "engine/answered_servers.h"
#include "log/events.h"

using namespace tessel;
using namespace tessel::testing;

namespace {

RequestShape Server(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t last)
{
    RequestShape shape;
    shape.mac = {a, b, c, 0x00, 0x00, last};
    return shape;
}

using Rows = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST_F(NetworkBed, StartupNoteThenRequestsQueuedMeanwhileInOrder)
{
    // Both arrive while the note is still showing; they wait in the socket.
    auto first = Server(0x0A, 0x1B, 0x2D, 2);
    auto second = Server(0x0A, 0x1B, 0x2C, 1);
    second.source = {10, 77, 0, 20};
    Start();
    channel->PushRequest(first);
    channel->PushRequest(second);
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2C-00-00-01", "10.77.0.20"}, {"0A-1B-2D-00-00-02", "0.0.0.0"}}));
    EXPECT_FALSE(shared.awaitingFirstServer.load());
    // 8.9 s of note, then 140 ms before each listing.
    EXPECT_EQ(clock.SleptMs(), 8900 + 2 * 140);
    EXPECT_EQ(table.Count(), 2) << "the note and the placeholder are gone";

    const std::vector<std::string> expected = {
        "Initialized MERROW Tessel's logfile!",
        "",
        "",
        "Received BOOTP/DHCP request from server with IP-address 0.0.0.0.",
        "Serialnumber 0A-1B-2D-00-00-02.",
        "Checking if already in list.",
        "New server, so add to list.",
        "",
        "Received BOOTP/DHCP request from server with IP-address 10.77.0.20.",
        "Serialnumber 0A-1B-2C-00-00-01.",
        "Checking if already in list.",
        "New server, so add to list.",
        "",
        // The wake-up at the stop has no source: the last address is repeated.
        "Received BOOTP/DHCP request from server with IP-address 10.77.0.20.",
        "All network threads were closed nicely.",
        "",
        "",
        "Closed MERROW Tessel's logfile!",
    };
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(NetworkBed, NoteRowsAreShownWithTheirTextsBeforeAnyServer)
{
    Start();
    Idle();
    const auto rows = table.Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].serial, "   ");
    EXPECT_EQ(rows[1].serial, "    Scanning network...");
    EXPECT_EQ(rows[1].address, "    Please wait...");
    EXPECT_EQ(rows[2].serial, "** Note that running");
    EXPECT_EQ(rows[2].address, "    DHCP servers   **");
    EXPECT_EQ(rows[3].serial, "** prevents setting");
    EXPECT_EQ(rows[3].address, "    of IP addresses **");
    EXPECT_TRUE(shared.awaitingFirstServer.load());
}

TEST_F(NetworkBed, ForeignPrefixDroppedUnlessOnlyMakerIsOff)
{
    Start();
    auto foreign = Server(0x0A, 0x1B, 0x2E, 7);
    foreign.source = {10, 77, 0, 9};
    channel->PushRequest(foreign);
    Idle();
    EXPECT_TRUE(Servers().empty());
    EXPECT_EQ(table.Count(), 4) << "a dropped request leaves the note in place";

    onlyMerrow.store(0);
    channel->PushRequest(foreign);
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2E-00-00-07", "10.77.0.9"}}));

    const auto lines = LogLines();
    const std::vector<std::string> dropped(lines.begin() + 3, lines.begin() + 6);
    EXPECT_EQ(dropped, (std::vector<std::string>{"Received BOOTP/DHCP request from server with IP-address 10.77.0.9.",
                                                 "Serialnumber 0A-1B-2E-00-00-07.", "Not an MERROW-server."}));
}

TEST_F(NetworkBed, PrintServersOnlyNeedsTheClassPSExactly)
{
    shared.printServersOnly = true;
    onlyMerrow.store(0);
    Start();
    auto plain = Server(0x11, 0x22, 0x33, 1);
    auto lower = Server(0x11, 0x22, 0x33, 2);
    lower.options = VendorClassOption("Ps");
    channel->PushRequest(plain);
    channel->PushRequest(lower);
    Idle();
    EXPECT_EQ(table.Count(), 4);
    EXPECT_TRUE(shared.awaitingFirstServer.load());

    auto printer = Server(0x11, 0x22, 0x33, 3);
    printer.options = VendorClassOption("PS");
    channel->PushRequest(printer);
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"11-22-33-00-00-03", "0.0.0.0"}}));
    EXPECT_EQ(table.Count(), 1);

    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Not a print server."), 2);
    const auto at = std::find(lines.begin(), lines.end(), "Serialnumber 11-22-33-00-00-03.");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at + 1), "This is a print server.");
    EXPECT_EQ(*(at + 2), "Checking if already in list.");
}

TEST_F(NetworkBed, CurrentAddressFromSourceOrOption50)
{
    Start();
    auto asking = Server(0x0A, 0x1B, 0x2C, 1);
    asking.options = {53, 1, 1, 50, 4, 10, 0, 0, 7};
    auto bare = Server(0x0A, 0x1B, 0x2C, 2);
    auto factory = Server(0x0A, 0x1B, 0x2C, 3);
    factory.source = {198, 51, 100, 80};
    factory.options = {50, 4, 10, 0, 0, 8};  // ignored: the source is an address
    for (const auto& shape : {asking, bare, factory}) channel->PushRequest(shape);
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2C-00-00-01", "10.0.0.7"},
                               {"0A-1B-2C-00-00-02", "0.0.0.0"},
                               {"0A-1B-2C-00-00-03", "198.51.100.80"}}));
    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Correct current IP address was found to be 10.0.0.7."), 1);
    const auto newServer = std::find(lines.begin(), lines.end(), "New server, so add to list.");
    ASSERT_NE(newServer, lines.end());
    EXPECT_EQ(*(newServer + 1), "Correct current IP address was found to be 10.0.0.7.");
}

TEST_F(NetworkBed, ListedServerKeepsItsRowAndAddress)
{
    Start();
    auto shape = Server(0x0A, 0x1B, 0x2C, 1);
    shape.source = {10, 77, 0, 5};
    channel->PushRequest(shape);
    shape.source = {10, 77, 0, 99};
    channel->PushRequest(shape);
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2C-00-00-01", "10.77.0.5"}}));
}

TEST_F(NetworkBed, NothingIsListedOutsideTheIdleStage)
{
    Start();
    Idle();
    Choose("0A-1B-2C-00-00-09", "10.0.0.5", StageBusy);
    channel->PushRequest(Server(0x0A, 0x1B, 0x2C, 1));
    Idle();
    EXPECT_TRUE(Servers().empty());
    Choose("", "", StageIdle);
    channel->PushRequest(Server(0x0A, 0x1B, 0x2C, 1));
    Idle();
    EXPECT_EQ(Servers().size(), 1u);
}

TEST_F(NetworkBed, OnlyTheChosenServerInStagesZeroToThreeIsHandedOver)
{
    Start();
    const auto chosen = Server(0x0A, 0x1B, 0x2C, 0xAB);
    const auto other = Server(0x0A, 0x1B, 0x2C, 0x01);
    struct Case {
        std::int32_t stage;
        bool handed;
    };
    for (const Case c : {Case{StageBusy, false}, Case{StageIdle, false}, Case{StageAwaitRequest, true},
                         Case{StageReplied, true}, Case{StageRestarting, true}, Case{StageVerifying, true},
                         Case{StageVerified, false}, Case{StageStored, false}}) {
        procedure.calls.clear();
        Choose("0A-1B-2C-00-00-AB", "10.0.0.5", c.stage);
        channel->PushRequest(other);
        channel->PushRequest(chosen);
        Idle();
        ASSERT_EQ(procedure.calls.size(), c.handed ? 1u : 0u) << "stage " << c.stage;
        if (c.handed) {
            EXPECT_EQ(procedure.calls[0].serial, "0A-1B-2C-00-00-AB");
            EXPECT_EQ(procedure.calls[0].desired, "10.0.0.5");
        }
    }
    // The serial must match exactly, case included.
    procedure.calls.clear();
    Choose("0a-1b-2c-00-00-ab", "10.0.0.5", StageAwaitRequest);
    channel->PushRequest(chosen);
    Idle();
    EXPECT_TRUE(procedure.calls.empty());
}

TEST_F(NetworkBed, ReceiveFailuresAndNonRequestsAreLoggedAndTheLoopGoesOn)
{
    Start();
    ScriptedChannel::Item empty{ReceiveStatus::Closed, {}, {10, 77, 0, 3}, 68};
    ScriptedChannel::Item cut{ReceiveStatus::Error, {}, {10, 77, 0, 4}, 68};
    channel->Push(empty);
    channel->Push(cut);
    auto reply = Server(0x0A, 0x1B, 0x2C, 5);
    reply.op = 2;
    channel->PushRequest(reply);
    channel->PushRequest(Server(0x0A, 0x1B, 0x2C, 6));
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2C-00-00-06", "0.0.0.0"}}));
    const auto lines = LogLines();
    const std::vector<std::string> head(lines.begin() + 2, lines.begin() + 11);
    EXPECT_EQ(head, (std::vector<std::string>{
                        "",
                        "Received BOOTP/DHCP request from server with IP-address 10.77.0.3.",
                        "Socket receive error because it was closed.",
                        "",
                        "Received BOOTP/DHCP request from server with IP-address 10.77.0.4.",
                        "Socket receive error.",
                        "",
                        "Received BOOTP/DHCP request from server with IP-address 0.0.0.0.",
                        "",
                    }));
}

TEST_F(NetworkBed, OpenFailuresEndTheThreadWithTheirEvent)
{
    struct Case {
        OpenResult result;
        const char* line;
    };
    for (const Case c :
         {Case{OpenResult::StartupFailed, "Socket startup failed."}, Case{OpenResult::SocketInvalid, "Socket invalid."},
          Case{OpenResult::BroadcastFailed, "Socketoption broadcast allowed failed."},
          Case{OpenResult::PortInUse, "Socket already in use (bind failed)."},
          Case{OpenResult::PortNotPermitted, "Socket already in use (bind failed)."}}) {
        TearDown();
        shared.stage.store(StageIdle);
        SetUp();
        openResult = c.result;
        Start();
        ASSERT_TRUE(thread->WakeAndJoin(5000));
        EXPECT_EQ(thread->ExitCode(), -1);
        EXPECT_EQ(thread->Opened(), c.result);
        EXPECT_EQ(shared.stage.load(), StageNetworkFailed);
        thread.reset();
        const auto lines = LogLines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[2], c.line);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "All network threads were closed nicely."), 0);
    }
}

TEST_F(NetworkBed, StopWhileTheReceiveBlocksEndsPromptly)
{
    Start();
    Idle();
    thread->RequestStop();
    EXPECT_TRUE(thread->WakeAndJoin(2000));
    EXPECT_EQ(thread->ExitCode(), 0);
    EXPECT_TRUE(channel->closed.load());
    EXPECT_EQ(shared.stage.load(), StageIdle);
    thread.reset();
    const auto lines = LogLines();
    EXPECT_EQ(lines[lines.size() - 4], "All network threads were closed nicely.");
}

TEST_F(NetworkBed, StopDuringTheStartupNoteDoesNotWaitItOut)
{
    shared.stopRequested.store(true);
    Start();
    EXPECT_TRUE(thread->WakeAndJoin(2000));
    EXPECT_EQ(thread->ExitCode(), 0);
    EXPECT_LT(clock.SleptMs(), 8900);
}

// Whoever sees the failed stage may destroy SharedState at once; the thread
// that showed it must be gone by then, not still releasing stateLock.
TEST(NetworkThreadStart, FailedStartIsJoinedBeforeTheBlockCanGo)
{
    struct RefusingChannel final : BootpChannel {
        explicit RefusingChannel(std::atomic<bool>& gone) : m_gone(gone) {}
        ~RefusingChannel() override { m_gone.store(true); }
        OpenResult Open() override { return OpenResult::PortInUse; }
        ReceiveStatus Receive(BootpMessage&) override { return ReceiveStatus::Error; }
        bool SendReply(std::span<const std::uint8_t>, const BootpMessage&) override { return false; }
        void Wake() override {}
        void Close() override {}
        std::atomic<bool>& m_gone;
    };
    for (int round = 0; round < 500; ++round) {
        std::atomic<bool> channelGone{false};
        auto shared = std::make_unique<SharedState>();
        {
            NetworkThread thread(*shared, std::make_unique<RefusingChannel>(channelGone), nullptr);
            thread.Start();
            while (shared->stage.load() != StageNetworkFailed) {}
        }
        ASSERT_TRUE(channelGone.load()) << "round " << round << ": the thread outlived its owner";
        shared.reset();
    }
    std::atomic<bool> channelGone{false};
    SharedState shared;
    NetworkThread thread(shared, std::make_unique<RefusingChannel>(channelGone), nullptr);
    thread.Start();
    EXPECT_FALSE(thread.WaitUntilListening());
    EXPECT_TRUE(thread.Finished()) << "joined when the start failed";
}

// In a burst the listing pause is kept where it can serve (a new row while
// idle, the chosen server) and skipped where it cannot; a request on its
// own always keeps it. Events are the same either way.
TEST_F(NetworkBed, ListingPauseInABurstOnlyWhereItServes)
{
    Start();
    Idle();
    std::vector<RequestShape> fresh;
    for (std::uint8_t n = 1; n <= 3; ++n) fresh.push_back(Server(0x0A, 0x1B, 0x2C, n));
    const auto pausesFor = [this](const std::vector<RequestShape>& burst) {
        const std::int64_t before = clock.SleptMs();
        channel->PushRequests(burst);
        Idle();
        return (clock.SleptMs() - before) / 140;
    };
    EXPECT_EQ(pausesFor(fresh), 3) << "each new row while idle is paced";
    EXPECT_EQ(pausesFor(fresh), 1) << "listed servers asking again: only the last, on its own";
    EXPECT_EQ(pausesFor({fresh[0]}), 1) << "a request on its own";

    // During a job nothing is listed: only the chosen server's request waits.
    Choose("0A-1B-2C-00-00-09", "10.77.0.9", StageAwaitRequest);
    std::vector<RequestShape> burst;
    for (std::uint8_t n = 10; n < 60; ++n) burst.push_back(Server(0x0A, 0x1B, 0x2D, n));
    burst.insert(burst.begin() + 25, Server(0x0A, 0x1B, 0x2C, 9));
    EXPECT_EQ(pausesFor(burst), 2) << "the chosen server's and the last one's, on its own";
    ASSERT_EQ(procedure.calls.size(), 1u);
    EXPECT_EQ(procedure.calls[0].serial, "0A-1B-2C-00-00-09");
    EXPECT_EQ(Servers().size(), 3u);

    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Checking if already in list."), 3 + 3 + 1 + 51);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "New server, so add to list."), 3);
}

// A bounded table under a burst of new servers: rows up to the cap, each
// paced; the others are not listed and, with datagrams behind them, not
// paused for; a kept server is listed even when the table is full; an hour
// unheard, the rows of servers that are not kept go. The events stay those
// of any request.
TEST_F(NetworkBed, BoundedTableCapsForgetsAndKeepsThePlannedServer)
{
    table.SetBounds({3, kForgetUnheardMs});
    table.SetKept({"0A-1B-2C-00-00-99"});
    Start();
    Idle();
    std::vector<RequestShape> burst;
    for (std::uint8_t n = 1; n <= 6; ++n) burst.push_back(Server(0x0A, 0x1B, 0x2C, n));
    std::int64_t before = clock.SleptMs();
    channel->PushRequests(burst);
    Idle();
    EXPECT_EQ((clock.SleptMs() - before) / 140, 3 + 1) << "three new rows, and the last request on its own";
    EXPECT_EQ(
        Servers(),
        (Rows{{"0A-1B-2C-00-00-01", "0.0.0.0"}, {"0A-1B-2C-00-00-02", "0.0.0.0"}, {"0A-1B-2C-00-00-03", "0.0.0.0"}}));
    EXPECT_EQ(shared.unlistedForRoom.load(), 3);

    channel->PushRequest(Server(0x0A, 0x1B, 0x2C, 2));  // heard again: 01 is now the least recently heard
    Idle();
    clock.AdvanceMs(1000);
    channel->PushRequest(Server(0x0A, 0x1B, 0x2C, 0x99));
    Idle();
    EXPECT_EQ(
        Servers(),
        (Rows{{"0A-1B-2C-00-00-02", "0.0.0.0"}, {"0A-1B-2C-00-00-03", "0.0.0.0"}, {"0A-1B-2C-00-00-99", "0.0.0.0"}}));

    clock.AdvanceMs(kForgetUnheardMs - 1500);  // 02 heard 1140 ms before the kept server was listed
    channel->PushRequest(Server(0x0A, 0x1B, 0x2C, 0x99));
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2C-00-00-02", "0.0.0.0"}, {"0A-1B-2C-00-00-99", "0.0.0.0"}}))
        << "03, heard 280 ms before 02, is an hour unheard; 02 not yet";
    clock.AdvanceMs(60 * 1000);
    channel->PushRequest(Server(0x0A, 0x1B, 0x2C, 0x99));
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2C-00-00-99", "0.0.0.0"}}));

    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Checking if already in list."), 6 + 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "New server, so add to list."), 4);
}

// plan and serve: a burst of requests of servers the run does not answer,
// another maker's among them, costs no pause, no row and no line; the
// planned server among them is listed, paced and logged as always, and a
// reloaded plan is heard at once. The first servers passed over are named
// with their address, every request is counted.
TEST_F(NetworkBed, RequestsOfServersNotAnsweredArePassedOverAndCounted)
{
    AnsweredServers answered;
    answered.Answer({"0a-1b-2c-00-00-99"});
    shared.answeredOnly = &answered;
    Start();
    Idle();
    std::vector<RequestShape> burst;
    for (std::uint8_t n = 1; n <= 40; ++n) burst.push_back(Server(n % 2 ? 0x0A : 0x11, 0x1B, 0x2C, n));
    burst[2].source = {10, 77, 0, 3};
    burst.insert(burst.begin() + 20, Server(0x0A, 0x1B, 0x2C, 0x99));
    burst.push_back(Server(0x0A, 0x1B, 0x2C, 0x01));  // asks again
    const std::int64_t before = clock.SleptMs();
    channel->PushRequests(burst);
    Idle();
    EXPECT_EQ(clock.SleptMs() - before, 140) << "only the planned server's listing pause";
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2C-00-00-99", "0.0.0.0"}}));

    std::vector<PassedOverServer> named;
    PassedOverCount count;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        named = answered.TakeNamed();
        count = answered.TakeCount();
        answered.Answer({"0A-1B-2C-00-00-99", "0A-1B-2C-00-00-05"});
    }
    ASSERT_EQ(named.size(), kPassedOverNamedAtMost);
    EXPECT_EQ(named[0].serial, "0A-1B-2C-00-00-01");
    EXPECT_EQ(named[2].address, "10.77.0.3");
    EXPECT_EQ(named[1].serial, "11-1B-2C-00-00-02") << "another maker's server is not answered either";
    EXPECT_EQ(count.requests, 41);
    EXPECT_EQ(count.servers, 40);

    channel->PushRequests({Server(0x0A, 0x1B, 0x2C, 0x05), Server(0x0A, 0x1B, 0x2C, 0x01)});
    Idle();
    EXPECT_EQ(Servers(), (Rows{{"0A-1B-2C-00-00-05", "0.0.0.0"}, {"0A-1B-2C-00-00-99", "0.0.0.0"}}));
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        EXPECT_TRUE(answered.TakeNamed().empty()) << "01 was named already";
        count = answered.TakeCount();
    }
    EXPECT_EQ(count.requests, 1);

    const auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Checking if already in list."), 2);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("Received BOOTP", 0) == 0; }),
              2 + 1)
        << "the two planned requests and the stop's wake-up";
}

// The count of distinct servers stays exact past the room it sorts in, and
// says "at least" once even sorting leaves no room; a new count starts
// from zero.
TEST(AnsweredServers, DistinctServersCountedExactlyUpToTheBound)
{
    struct Case {
        long long servers, rounds;
        long long expectServers;
        bool expectMore;
    };
    const long long bound = static_cast<long long>(kPassedOverCountedAtMost);
    for (const Case c :
         {Case{3, 5, 3, false}, Case{bound / 4, 3, bound / 4, false}, Case{bound / 2, 2, bound / 2, false},
          Case{bound, 1, bound, true}, Case{bound * 2, 1, bound, true}}) {
        AnsweredServers answered;
        for (long long round = 0; round < c.rounds; ++round)
            for (long long n = 0; n < c.servers; ++n) answered.PassOver("SERVER-" + std::to_string(n));
        const PassedOverCount count = answered.TakeCount();
        EXPECT_EQ(count.requests, c.servers * c.rounds) << c.servers;
        EXPECT_EQ(count.servers, c.expectServers) << c.servers;
        EXPECT_EQ(count.moreServers, c.expectMore) << c.servers;
        EXPECT_EQ(answered.TakeCount().requests, 0);
    }
}
