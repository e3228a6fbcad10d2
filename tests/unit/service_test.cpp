// serve's service parts without a network: the back-off rule, the ledger's
// lines (a torn one included), journal prefixes and the notification
// datagram.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "service/back_off.h"
#include "service/journal.h"
#include "service/ledger.h"
#include "service/notify.h"

using namespace tessel::service;

namespace {

std::string TempFolder()
{
    char name[] = "/tmp/tessel-service-XXXXXX";
    const char* made = ::mkdtemp(name);
    return made != nullptr ? made : "/tmp";
}

std::vector<LedgerLine> Lines(const std::string& path, std::string& error)
{
    std::vector<LedgerLine> lines;
    error = ForEachLedgerLine(path, [&lines](LedgerLine&& line) { lines.push_back(std::move(line)); });
    return lines;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(ServeBackOff, DoublesUpToTheCapAndALastingGoodEndClearsIt)
{
    EXPECT_EQ(BackOffMs(1), 30'000);
    EXPECT_EQ(BackOffMs(2), 60'000);
    EXPECT_EQ(BackOffMs(5), 480'000);
    EXPECT_EQ(BackOffMs(6), kBackOffCapMs);
    EXPECT_EQ(BackOffMs(60), kBackOffCapMs);  // no overflow on a server broken for months
    EXPECT_EQ(BackOffMs(2, 1000), 60);

    BackOff backOff;
    const std::string s = "0A-1B-2C-00-00-01";
    std::int64_t now = 1'000'000;
    EXPECT_EQ(backOff.OnRequest(s, now).kind, BackOff::Decision::Answer);
    // Failures: held 30 s, then 60 s, ... each told once.
    for (int strike = 1; strike <= 7; ++strike) {
        const std::int64_t until = backOff.OnJobEnded(s, now, false);
        EXPECT_EQ(until - now, BackOffMs(strike));
        EXPECT_EQ(backOff.OnRequest(s, now + 1).kind, BackOff::Decision::HoldAndTell);
        EXPECT_EQ(backOff.OnRequest(s, until - 1).kind, BackOff::Decision::Hold);
        EXPECT_EQ(backOff.HeldAt(until - 1), 1);
        // Its first ask once the back-off has passed is answered, soon after
        // the failed job or not.
        now = until;
        EXPECT_EQ(backOff.OnRequest(s, now).kind, BackOff::Decision::Answer);
    }
    // A good end that is not followed by an early ask clears the strikes.
    EXPECT_EQ(backOff.OnJobEnded(s, now, true), 0);
    now += kSoonAfterJobMs;
    EXPECT_EQ(backOff.OnRequest(s, now).kind, BackOff::Decision::Answer);
    EXPECT_EQ(backOff.OnJobEnded(s, now, false) - now, BackOffMs(1));
}

TEST(ServeBackOff, AskingSoonAfterAGoodJobIsAStrikeThatKeepsGrowing)
{
    BackOff backOff(10);  // every length a tenth
    const std::string s = "0A-1B-2C-00-00-02", other = "0A-1B-2C-00-00-03";
    std::int64_t now = 0;
    for (int strike = 1; strike <= 3; ++strike) {
        backOff.OnJobEnded(s, now, true);
        const auto held = backOff.OnRequest(s, now + kSoonAfterJobMs / 10 - 1);
        EXPECT_EQ(held.kind, BackOff::Decision::HoldAndTell);
        EXPECT_TRUE(held.soonAfterJob);
        EXPECT_EQ(held.strikes, strike);
        EXPECT_EQ(held.untilMs - (now + kSoonAfterJobMs / 10 - 1), BackOffMs(strike, 10));
        now = held.untilMs;
        EXPECT_EQ(backOff.OnRequest(s, now).kind, BackOff::Decision::Answer);
    }
    EXPECT_EQ(backOff.OnRequest(other, now).kind, BackOff::Decision::Answer);  // per server
    backOff.Restore(other, 4, now + 5, now);
    EXPECT_EQ(backOff.OnRequest(other, now).kind, BackOff::Decision::HoldAndTell);
    EXPECT_EQ(backOff.OnJobEnded(other, now + 5, false) - (now + 5), BackOffMs(5, 10));
}

TEST(ServeBackOff, ARestoredBackOffNeverReachesPastNowPlusTheCap)
{
    const std::int64_t now = 5'000'000, years = 10LL * 365 * 86'400'000;
    struct Case {
        std::int64_t until;
        int strikes;
        std::int64_t divisor, heldUntil;
        int keptStrikes;
    } cases[] = {
        {now + 60'000, 2, 1, now + 60'000, 2},                      // within the cap: as the ledger says
        {now + years, 3, 1, now + kBackOffCapMs, 3},                // a clock that was years ahead
        {now + kBackOffCapMs, 1, 60, now + kBackOffCapMs / 60, 1},  // the cap the divisor shortens
        {now + 1000, -7, 1, now + 1000, 0},                         // an edited line's strikes
    };
    for (const Case& c : cases) {
        BackOff backOff(c.divisor);
        backOff.Restore("S", c.strikes, c.until, now);
        const auto held = backOff.OnRequest("S", now);
        EXPECT_EQ(held.kind, BackOff::Decision::HoldAndTell) << c.until;
        EXPECT_EQ(held.untilMs, c.heldUntil) << c.until;
        EXPECT_EQ(backOff.Strikes("S"), c.keptStrikes) << c.until;
    }
}

TEST(ServeLedger, LinesRoundTripAndOnlyWholeOnesCount)
{
    LedgerLine line{1'796'000'000'123,
                    "0A-1B-2C-00-00-01",
                    "10.0.0.5",
                    "not verified",
                    3,
                    "replied; not found at the address\tafter it",
                    2,
                    1'796'000'060'123};
    const std::string text = FormatLedgerLine(line);
    EXPECT_EQ(text,
              "2026-11-30T00:53:20.123Z\t0A-1B-2C-00-00-01\t10.0.0.5\tnot verified\t3\treplied; not found at the "
              "address after it\t2\t2026-11-30T00:54:20.123Z\n");
    const auto back = ParseLedgerLine(text.substr(0, text.size() - 1));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->timeMs, line.timeMs);
    EXPECT_EQ(back->stage, 3);
    EXPECT_EQ(back->strikes, 2);
    EXPECT_EQ(back->nextMs, line.nextMs);
    EXPECT_EQ(back->why, "replied; not found at the address after it");

    // Every cut of a line is either skipped or the whole line: never a
    // different outcome.
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
        const auto lines = ParseLedger(text + text.substr(0, cut));
        ASSERT_EQ(lines.size(), 1u) << cut;
        // A fragment that a later line ended (a power cut, then a restart);
        // only the line short of its "\n" alone is whole.
        EXPECT_EQ(ParseLedger(text.substr(0, cut) + "\n" + text).size(), cut + 1 == text.size() ? 2u : 1u) << cut;
    }
    for (const char* bad :
         {"", "x", "2026-11-29T07:33:20.123Z\ta\tb\tc\td\te\tf\t-", "2026-13-29T07:33:20.123Z\ta\tb\tc\t1\te\t0\t-"})
        EXPECT_FALSE(ParseLedgerLine(bad)) << bad;
}

TEST(ServeLedger, AppendsWholeLinesAndEndsATornOneOnOpen)
{
    const std::string folder = TempFolder(), path = folder + "/ledger";
    {
        std::ofstream torn(path, std::ios::binary);
        torn << "2026-11-29T07:33:20.123Z\t0A-1B";  // a power cut's remains
    }
    Ledger ledger;
    ASSERT_EQ(ledger.Open(path), "");
    LedgerLine line{1'796'000'000'000, "0A-1B-2C-00-00-01", "10.0.0.5", "stored", 5, "stored", 0, 0};
    ASSERT_TRUE(ledger.Append(line));
    line.serial = "0A-1B-2C-00-00-02";
    ASSERT_TRUE(ledger.Append(line));
    std::string error;
    const auto lines = Lines(path, error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].serial, "0A-1B-2C-00-00-02");
    EXPECT_EQ(ReadAll(path).back(), '\n');
    EXPECT_TRUE(Lines(folder + "/none", error).empty());
    EXPECT_EQ(error, "");  // no ledger yet: nothing served yet
    EXPECT_NE(Ledger().Open(folder + "/no/such/folder/ledger"), "");
    std::system(("rm -rf " + folder).c_str());
}

TEST(ServeLedger, ReadAsAStreamOnlyFromARegularFile)
{
    const std::string folder = TempFolder();
    std::string text;
    for (int i = 0; i < 3; ++i)
        text += FormatLedgerLine(
            {1'796'000'000'000 + i, "0A-1B-2C-00-00-0" + std::to_string(i), "10.0.0.5", "stored", 5, "why", 0, 0});
    // A line far longer than any serve writes is skipped whole, and the
    // line after it still counts; the torn end never does.
    text.insert(text.find('\n') + 1, std::string(100'000, 'x') + "\n");
    text += "2026-11-29T07:33:20.123Z\t0A-1B";
    std::vector<std::string> fed;
    LedgerSplitter splitter;
    for (const char c : text)
        splitter.Feed(std::string_view(&c, 1), [&fed](LedgerLine&& l) { fed.push_back(l.serial); });
    EXPECT_EQ(fed, (std::vector<std::string>{"0A-1B-2C-00-00-00", "0A-1B-2C-00-00-01", "0A-1B-2C-00-00-02"}));
    EXPECT_EQ(ParseLedger(text).size(), 3u);

    const std::string fifo = folder + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/zero"), fifo, folder}) {
        bool missing = true;
        EXPECT_EQ(ForEachLedgerLine(
                      path, [](LedgerLine&&) { FAIL(); }, &missing),
                  path + ": not a regular file");
        EXPECT_FALSE(missing);
        EXPECT_NE(Ledger().Open(path), "");  // a folder: "Is a directory"
    }
    bool missing = false;
    EXPECT_EQ(ForEachLedgerLine(
                  folder + "/none", [](LedgerLine&&) {}, &missing),
              "");
    EXPECT_TRUE(missing);
    std::system(("rm -rf " + folder).c_str());
}

TEST(ServeLedger, CompactionKeepsEachServersLatestLinesAtomically)
{
    const std::string folder = TempFolder(), path = folder + "/ledger";
    auto line = [](int place, const std::string& serial, const std::string& result) {
        return LedgerLine{1'796'000'000'000 + place * 1000,
                          serial,
                          result == "stored" ? "10.0.0.1" : "10.0.0.9",
                          result,
                          3,
                          "why",
                          1,
                          0};
    };
    // A stored once, then failures; B twice; C six times; a fragment a
    // power cut left and a line that does not parse among them.
    const std::vector<std::string> order = {"A", "B", "C", "A", "C", "A", "C", "B", "A", "C", "A", "C", "A", "C", "A"};
    std::vector<LedgerLine> all;
    std::string text;
    for (std::size_t i = 0; i < order.size(); ++i) {
        all.push_back(line(static_cast<int>(i), order[i], i == 0 ? "stored" : "not verified"));
        text += FormatLedgerLine(all.back()) + (i == 4 ? "2026-11-29T07:33:20.1\nnot a line\n" : "");
    }
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    // Kept: A's stored line and its latest four, B's two, C's latest four.
    std::string kept;
    for (std::size_t i : {0, 1, 6, 7, 8, 9, 10, 11, 12, 13, 14}) kept += FormatLedgerLine(all[i]);

    struct stat info {};
    ::stat(path.c_str(), &info);
    const ino_t old = info.st_ino;
    std::vector<Ledger::Compaction> told;
    Ledger ledger;
    ledger.OnCompacted([&told](const Ledger::Compaction& c) { told.push_back(c); });
    std::string why;
    ASSERT_EQ(ledger.TakeLock(path, why), Ledger::Lock::Held);
    ASSERT_EQ(ledger.Open(path), "");
    EXPECT_TRUE(told.empty());  // below its size: left as it is

    // A compaction that cannot write its new file leaves the ledger as it was.
    ASSERT_EQ(::mkdir((path + ".new").c_str(), 0700), 0);
    ledger.CompactPast(1);
    const LedgerLine d = line(20, "D", "stored");
    ASSERT_TRUE(ledger.Append(d));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].failure, "");
    EXPECT_EQ(ReadAll(path), text + FormatLedgerLine(d));
    ::rmdir((path + ".new").c_str());

    ledger.CompactPast(1);
    ASSERT_TRUE(ledger.Append(d));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[1].failure, "");
    EXPECT_EQ(told[1].after, static_cast<std::int64_t>((kept + FormatLedgerLine(d) + FormatLedgerLine(d)).size()));
    EXPECT_LT(told[1].after, told[1].before);
    // Renamed over the old one, nothing left beside it, and the next line
    // goes to the new file.
    const LedgerLine e = line(21, "E", "stored");
    ASSERT_TRUE(ledger.Append(e));
    EXPECT_EQ(ReadAll(path), kept + FormatLedgerLine(d) + FormatLedgerLine(d) + FormatLedgerLine(e));
    ::stat(path.c_str(), &info);
    EXPECT_NE(info.st_ino, old);
    EXPECT_NE(::access((path + ".new").c_str(), F_OK), 0);
    EXPECT_EQ(told.size(), 2u);  // the next one waits for twice what was left
    std::system(("rm -rf " + folder).c_str());
}

TEST(ServeLedger, OneServeAtATimeAndARenamedLedgerIsOpenedAnew)
{
    const std::string folder = TempFolder(), path = folder + "/ledger";
    LedgerLine line{1'796'000'000'000, "0A-1B-2C-00-00-01", "10.0.0.5", "stored", 5, "stored", 0, 0};
    std::string why;
    auto first = std::make_unique<Ledger>();
    ASSERT_EQ(first->TakeLock(path, why), Ledger::Lock::Held);
    ASSERT_EQ(first->Open(path), "");
    Ledger second;
    EXPECT_EQ(second.TakeLock(path, why), Ledger::Lock::InUse);
    EXPECT_EQ(why, path + " is in use by another tessel-cli serve (process " + std::to_string(::getpid()) + ")");

    ASSERT_TRUE(first->Append(line));
    EXPECT_EQ(first->Reopen(), "");  // not renamed: the same file
    ASSERT_EQ(std::rename(path.c_str(), (path + ".1").c_str()), 0);
    EXPECT_EQ(first->Reopen(), "");
    line.serial = "0A-1B-2C-00-00-02";
    ASSERT_TRUE(first->Append(line));
    EXPECT_EQ(Lines(path + ".1", why).front().serial, "0A-1B-2C-00-00-01");
    EXPECT_EQ(Lines(path + ".1", why).size(), 1u);
    EXPECT_EQ(Lines(path, why).size(), 1u);
    EXPECT_EQ(Lines(path, why).front().serial, "0A-1B-2C-00-00-02");

    first.reset();  // its lock goes with it
    EXPECT_EQ(second.TakeLock(path, why), Ledger::Lock::Held);
    std::system(("rm -rf " + folder).c_str());
}

TEST(ServeJournal, EveryLineCarriesItsPriorityOnlyUnderTheJournal)
{
    const EventLog journal(stderr, true), terminal(stderr, false);
    EXPECT_EQ(journal.Format(kErr, "port 67 is taken"), "<3>port 67 is taken\n");
    EXPECT_EQ(journal.Format(kInfo, "a\nb\n"), "<6>a\n<6>b\n");
    EXPECT_EQ(terminal.Format(kWarning, "a\nb"), "a\nb\n");

    const std::string folder = TempFolder(), path = folder + "/stream";
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    struct stat info {};
    ASSERT_EQ(::fstat(fileno(file), &info), 0);
    const std::string mine = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    EXPECT_TRUE(StreamIsJournal(file, mine.c_str()));
    EXPECT_FALSE(StreamIsJournal(file, (std::to_string(info.st_dev) + ":1").c_str()));
    EXPECT_FALSE(StreamIsJournal(file, "junk"));
    EXPECT_FALSE(StreamIsJournal(file, nullptr));
    std::fclose(file);
    std::system(("rm -rf " + folder).c_str());
}

TEST(ServeNotify, SendsOneDatagramToAPathOrAnAbstractName)
{
    const std::string folder = TempFolder();
    const std::string abstractName = "tessel-notify-test-" + std::to_string(::getpid());
    for (const std::string& name : {folder + "/notify", "@" + abstractName}) {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string bytes = name;
        if (bytes[0] == '@') bytes[0] = '\0';
        std::memcpy(address.sun_path, bytes.data(), bytes.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + bytes.size());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0) << name;
        const Notifier notifier(name.c_str());
        ASSERT_TRUE(notifier.Active());
        EXPECT_TRUE(notifier.Send("READY=1\nSTATUS=1 planned"));
        char buffer[64] = {};
        EXPECT_EQ(::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT), 24) << name;
        EXPECT_STREQ(buffer, "READY=1\nSTATUS=1 planned");
        // A reader that never reads: once its queue is full a send fails at
        // once instead of holding the caller (a blocking send hangs here).
        int sent = 0;
        while (sent < 100000 && notifier.Send("STATUS=x")) ++sent;
        EXPECT_LT(sent, 100000) << name;
        ::close(fd);
    }
    for (const char* refused : {static_cast<const char*>(nullptr), "", "relative/path", "@"})
        EXPECT_FALSE(Notifier(refused).Active());
    std::system(("rm -rf " + folder).c_str());
}
