// tessel-cli's own rules, without a network: the command lines it takes,
// the addresses it refuses before listening, the exit status of each
// outcome, and what the terminal front end prints and answers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <system_error>

#include "cli/plan_run.h"
#include "network_fixture.h"
#include "test_namespace.h"
#endif

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/plan_file.h"
#include "cli/plan_report.h"
#include "cli/report.h"
#include "cli/step_command.h"
#include "cli/terminal_front_end.h"
#include "cli/usage.h"
#include "engine/shared_state.h"
#include "log/logfile.h"

using namespace tessel;
using namespace tessel::cli;

TEST(CliArguments, SetTakesTheListFiltersAndChecksEveryWord)
{
    struct Case {
        std::vector<std::string> args;
        std::string error;  // a part of the complaint; empty: accepted
    };
    const Case cases[] = {
        {{"0a:1b:2c:00:00:0f", "10.0.0.5"}, ""},
        {{"0A-1B-2C-00-00-0F", "10.0.0.5", "--all", "--seconds", "30", "--yes", "--logfile", "x.log"}, ""},
        {{"0A-1B-2C-00-00-0F", "10.0.0.5", "--print-servers-only"}, ""},
        {{"0A-1B-2C-00-00-0F"}, "needs a serial number and an address"},
        {{"0A-1B-2C-00-00-0F", "10.0.0.5", "extra"}, "needs a serial number and an address"},
        {{"0A-1B-2C-00-00", "10.0.0.5"}, "not a serial number"},
        {{"0A-1B-2C-00-00-0G", "10.0.0.5"}, "not a serial number"},
        {{"0A-1B-2C-00-00-0F", "10.0.0.256"}, "not an IP address"},
        {{"0A-1B-2C-00-00-0F", "10.0.0.5", "--seconds", "0"}, "--seconds"},
        {{"0A-1B-2C-00-00-0F", "10.0.0.5", "--seconds", "1000000"}, "from 1 to 999999"},
        {{"0A-1B-2C-00-00-0F", "10.0.0.5", "--seconds"}, "unknown or incomplete option for set: --seconds"},
        {{"0A-1B-2C-00-00-0F", "10.0.0.5", "--json"}, "unknown or incomplete option for set: --json"},
    };
    for (const Case& c : cases) {
        SetArguments set;
        const std::string error = ParseSet(c.args, set);
        if (c.error.empty()) {
            EXPECT_EQ(error, "") << c.args[0];
            EXPECT_EQ(set.serial, "0A-1B-2C-00-00-0F");
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    SetArguments set;
    ASSERT_EQ(
        ParseSet({"0A-1B-2C-00-00-0F", "10.0.0.5", "--print-servers-only", "--seconds", "30", "--unchecked"}, set), "");
    EXPECT_TRUE(set.unchecked);
    EXPECT_TRUE(set.options.printServersOnly);
    EXPECT_FALSE(set.options.onlyMerrow) << "the class decides, not the maker";
    EXPECT_EQ(set.seconds, 30);
    EXPECT_NE(FilterDescription(set.options).find("print servers only"), std::string::npos);
    EXPECT_NE(FilterDescription(HeadlessOptions{}).find("MERROW-servers only"), std::string::npos);
    EXPECT_TRUE(HeardWith("0A-1B-2D-00-00-01", HeadlessOptions{}));
    EXPECT_FALSE(HeardWith("0A-1B-2E-00-00-01", HeadlessOptions{}));
    EXPECT_TRUE(HeardWith("0A-1B-2E-00-00-01", set.options));

    ListArguments list;
    EXPECT_EQ(ParseList({"--json", "--all", "--seconds", "5"}, list), "");
    EXPECT_TRUE(list.json);
    EXPECT_FALSE(list.options.onlyMerrow);
    EXPECT_NE(ParseList({"--yes"}, list), "");
}

// probe and store read the address as set does and use what they read.
TEST(CliArguments, StepsReadTheAddressAsSetDoes)
{
    struct Case {
        std::vector<std::string> args;
        std::string address;  // as used; empty: refused with `error`
        std::string error;
    };
    const Case cases[] = {
        {{"port80", "10.77.0.021"}, "10.77.0.21", ""},
        {{"http", "010.077.000.021", "--logfile", "x.log"}, "10.77.0.21", ""},
        {{"icmp", "10.77.0.020"}, "10.77.0.20", ""},
        {{"icmp", "10.77.0.256"}, "", "not an IP address"},
        {{"icmp", " 10.77.0.2"}, "", "not an IP address"},
        {{"ping", "10.77.0.2"}, "", "unknown probe: ping"},
        {{"icmp"}, "", "give what to do and an address"},
    };
    for (const Case& c : cases) {
        StepArguments step;
        const std::string error = ParseStep("probe", c.args, {"icmp", "port80", "http"}, step);
        if (c.address.empty()) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, "") << c.args[1];
            EXPECT_EQ(step.address, c.address);
        }
    }
}

TEST(CliExit, EachOutcomeHasItsOwnStatus)
{
    struct Case {
        bool refused;
        int box, result;
        bool finalAnswered;
        int status;
        const char* line;
    };
    const Case cases[] = {
        {false, 110, StageStored, true, kExitOk, ""},
        // Found by the final ICMP check, but nothing confirmed a store.
        {false, 109, StageVerified, true, kExitUnconfirmed,
         "answers at 10.0.0.5; storing it permanently was not confirmed"},
        {false, 109, StageVerified, false, kExitUntilRestart, ""},
        {false, 108, StageVerifying, false, kExitNotVerified, ""},
        {false, 108, StageReplied, false, kExitNotVerified, ""},
        {false, 107, StageAwaitRequest, false, kExitNoRequest, ""},
        {true, 106, -1, false, kExitRefused, ""},
        {true, 123, -1, false, kExitRefused, ""},
        {true, 124, -1, false, kExitAlreadySet, "The server already has 10.0.0.5; nothing was sent."},
        {true, 144, -1, false, kExitNotChecked, ""},
        {true, 146, -1, false, kExitRefused, ""},
    };
    for (const Case& c : cases) {
        SetIpOutcome outcome;
        outcome.refused = c.refused;
        outcome.refusingBox = c.box;
        outcome.result = c.result;
        outcome.finalAnswered = c.finalAnswered;
        const SetExit exit = ExitForSet(outcome, "10.0.0.5");
        EXPECT_EQ(exit.status, c.status) << "box " << c.box;
        EXPECT_EQ(exit.line, c.line) << "box " << c.box;
    }
    // Box 144 for a request that could not be sent is not "no permission".
    SetIpOutcome notSent;
    notSent.refusingBox = IDS_NOT_CHECKED;
    notSent.checkNotSent = true;
    EXPECT_EQ(ExitForSet(notSent, "10.0.0.5").status, kExitNotSent);
    // One number, one meaning per command.
    for (const ExitStatusRow& a : kExitStatusTable)
        for (const ExitStatusRow& b : kExitStatusTable)
            if (&a != &b && a.code == b.code) {
                EXPECT_STRNE(a.commands, b.commands) << a.code;
            }
}

TEST(CliReport, InterruptedLinesAndJson)
{
    EXPECT_EQ(InterruptedStateLine(StageIdle, "0A-1B-2C-00-00-01", "10.0.0.5"),
              "Interrupted: nothing was sent to server 0A-1B-2C-00-00-01; it keeps the address it had.");
    EXPECT_NE(InterruptedStateLine(StageRestarting, "S", "10.0.0.5").find("may be restarting with 10.0.0.5"),
              std::string::npos);
    EXPECT_NE(InterruptedStateLine(StageVerified, "S", "10.0.0.5").find("not confirmed"), std::string::npos);
    EXPECT_NE(InterruptedStateLine(StageStored, "S", "10.0.0.5").find("stored it permanently"), std::string::npos);

    const auto heard = std::chrono::system_clock::time_point(std::chrono::milliseconds(1798453203042));
    EXPECT_EQ(JsonServerLine("0A-1B-2C-00-00-01", "10.0.0.7", heard),
              R"({"serial":"0A-1B-2C-00-00-01","address":"10.0.0.7","heard":"2026-12-28T10:20:03.042Z"})");
    EXPECT_EQ(JsonServerLine("a\"b\\", "\n", heard).substr(0, 32), R"({"serial":"a\"b\\","address":"\u)");
    EXPECT_EQ(JsonSummaryLine(2, true), R"({"summary":{"servers":2,"ended":"interrupted"}})");
    EXPECT_EQ(JsonSummaryLine(0, false), R"({"summary":{"servers":0,"ended":"time limit"}})");
}

TEST(CliUsage, EveryCommandHasItsHelp)
{
    for (const Command* command : Commands()) {
        const std::string help = CommandHelp(command->name);
        EXPECT_NE(help.find(std::string("  ") + command->name), std::string::npos) << command->name;
        EXPECT_NE(CommandNames().find(command->name), std::string::npos) << command->name;
        // A command that listens takes --interface: its synopsis says so.
        if (command->listens) {
            EXPECT_NE(std::string(command->synopsis).find("[--interface NAME]"), std::string::npos) << command->name;
        }
    }
    EXPECT_EQ(CommandHelp("lsit"), "");
    EXPECT_NE(FullUsage().find("  4  set"), std::string::npos) << "the exit table is part of the usage";
    // The program itself holds no capabilities: no advice to give it any.
    EXPECT_EQ(FullUsage().find("setcap"), std::string::npos);
    // Every row of the exit table starts a line of its own and keeps its
    // whole meaning, however long (wrapped lines joined again).
    const std::string help = ExitStatusHelp();
    std::string table;
    for (std::size_t i = 0; i < help.size(); ++i) {
        if (help.compare(i, 10, "\n         ") == 0) {  // a wrapped line's indent
            table.push_back(' ');
            i = help.find_first_not_of(' ', i + 1) - 1;
        } else {
            table.push_back(help[i]);
        }
    }
    for (const ExitStatusRow& row : kExitStatusTable) {
        char start[64];
        std::snprintf(start, sizeof start, "\n  %3d  %s ", row.code, row.commands);
        const std::size_t line = table.find(start);
        ASSERT_NE(line, std::string::npos) << row.code;
        const std::size_t meaning = table.find(row.meaning, line);
        ASSERT_NE(meaning, std::string::npos) << row.code;
        EXPECT_LT(meaning, table.find('\n', line + 1)) << row.code;
        EXPECT_EQ(table[meaning - 1], ' ') << row.code;
    }
}

// Not a terminal: plain lines, the box text without the window's trailing
// blanks, and the answers that the command line gave in advance.
TEST(CliTerminal, BoxesAndProgressOnAPipe)
{
    for (const bool confirm : {false, true}) {
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        TerminalFrontEnd ui("0A-1B-2C-00-00-01", {10, 0, 0, 1}, confirm, out, confirm);
        EXPECT_EQ(ui.ShowBox(*FindBoxStyle(123)), confirm ? MsgAnswer::Ok : MsgAnswer::Cancel);
        EXPECT_EQ(ui.ShowBox(*FindBoxStyle(IDS_NOT_CHECKED)), confirm ? MsgAnswer::Yes : MsgAnswer::No)
            << "an unchecked address only with --unchecked";
        EXPECT_EQ(ui.ShowBox(*FindBoxStyle(111)), MsgAnswer::No) << "no browser is started";
        ui.OpenStage(IDS_STAGE_WAITING);
        ui.SetStageText(IDS_STAGE_WAITING);
        ui.Repaint();
        ui.SetStageText(IDS_STAGE_SETTING);
        ui.Repaint();
        ui.CloseStage();
        EXPECT_EQ(ui.LastBox(), 111);
        std::rewind(out);
        std::string text;
        for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
        std::fclose(out);
        EXPECT_EQ(text.find(" \n"), std::string::npos) << "a line ends in a blank";
        EXPECT_NE(text.find(confirm ? "(--yes given: continuing)" : "(cancelled: give --yes to continue)"),
                  std::string::npos);
        EXPECT_NE(text.find(confirm ? "(--unchecked given: continuing without the check)"
                                    : "(refused: give --unchecked to set the address without the check)"),
                  std::string::npos);
        EXPECT_NE(text.find("Home page: http://10.0.0.1/"), std::string::npos);
        const std::string waiting = StageHeadline(IDS_STAGE_WAITING) + "\n";
        EXPECT_EQ(text.find(waiting), text.rfind(waiting)) << "each stage text once";
        EXPECT_NE(text.find(kSettingTitle), std::string::npos);
        EXPECT_NE(text.find(StageHeadline(IDS_STAGE_SETTING)), std::string::npos);
    }
}

TEST(CliPlan, TheWholeFileIsCheckedWithLineNumbers)
{
    const PlanCheck good = CheckPlan(
        "Serial, Address\r\n"
        "# second floor\n"
        "\n"
        "0a:1b:2c:00:00:01,10.0.2.101\n"
        "\"0A1B.2C00.0002\" , \"10.0.2.102\"   # by the stairs\n"
        "0a1b2c000003,10.0.2.103\r\n",
        false);
    ASSERT_EQ(good.errors, std::vector<std::string>{});
    ASSERT_EQ(good.entries.size(), 3u);
    EXPECT_EQ(good.entries[1].serial, "0A-1B-2C-00-00-02");
    EXPECT_EQ(good.entries[1].line, 5);
    EXPECT_EQ(good.entries[2].address, (Ipv4Bytes{10, 0, 2, 103}));

    struct Case {
        const char* text;
        bool confirmed;
        std::vector<std::string> errors;  // each a part of the complaint of its line, in order
    };
    const Case cases[] = {
        {"0A-1B-2C-00-00-01,10.0.2.101,extra\n", false, {"line 1: expected SERIAL,ADDRESS"}},
        {"0A-1B-2C-00-00-01\n", false, {"line 1: expected SERIAL,ADDRESS"}},
        {"0A-1B-2C-00-00-01;10.0.2.101\n", false, {"line 1: expected SERIAL,ADDRESS"}},
        {"0A-1B-2C-00-00,10.0.2.101\n", false, {"line 1: not a serial number"}},
        {"serial,address\nserial,address\n", false, {"line 2: not a serial number"}},
        {"0A-1B-2C-00-00-01,10.0.2\n", false, {"line 1: not an IP address"}},
        // What follows the address is shown, escaped: it does not look valid.
        {"0A-1B-2C-00-00-01,10.0.2.101\r\r\n",
         false,
         {"line 1: not an IP address (four numbers 0 to 255 joined by dots): 10.0.2.101\\r"}},
        {"0A-1B-2C-00-00-01,\x1b]0;owned\x07\n",
         false,
         {"not an IP address (four numbers 0 to 255 joined by dots): \\x1b]0;owned\\x07"}},
        {"0A-1B-2C-00-00-01,0.0.0.0\n0A-1B-2C-00-00-02,255.255.255.255\n",
         true,
         {"line 1: 0.0.0.0 refused", "line 2: 255.255.255.255 refused"}},
        {"0A-1B-2C-00-00-01,10.0.2.255\n", false, {"line 1: 10.0.2.255 refused: an address ending in 0, 1 or 255"}},
        {"0A-1B-2C-00-00-01,127.0.0.5\n0A-1B-2C-00-00-02,224.0.0.5\n0A-1B-2C-00-00-03,240.1.2.3\n",
         true,
         {"line 1: 127.0.0.5 refused: no server can be reached", "line 2: 224.0.0.5 refused",
          "line 3: 240.1.2.3 refused"}},
        // Only column names make a header: a mistyped first serial (letter O
        // for zero) is a server's line and refused, never skipped.
        {"OA-1B-2C-01-02-03,10.0.0.5\n0A-1B-2C-01-02-04,10.0.0.6\n", false, {"line 1: not a serial number"}},
        {"server1,10.0.0.5\n", false, {"line 1: not a serial number"}},
        {"Serial Number,address,notes\n", false, {"line 1: expected SERIAL,ADDRESS"}},
        {"MAC,\"New IP\"\n\xEF\xBB\xBF"
         "0A-1B-2C-01-02-04,10.0.0.6\n",
         false,
         {"line 2: not a serial number"}},
        {"0A-1B-2C-00-00-01,10.0.2.101\n\n0a:1b:2c:00:00:01,10.0.2.102\n0A-1B-2C-00-00-03,10.0.2.101\n",
         false,
         {"line 3: 0A-1B-2C-00-00-01 already stands on line 1", "line 4: 10.0.2.101 already stands on line 1"}},
    };
    for (const Case& c : cases) {
        const PlanCheck check = CheckPlan(c.text, c.confirmed);
        ASSERT_EQ(check.errors.size(), c.errors.size()) << c.text;
        for (std::size_t i = 0; i < c.errors.size(); ++i)
            EXPECT_NE(check.errors[i].find(c.errors[i]), std::string::npos) << check.errors[i];
    }
    EXPECT_TRUE(CheckPlan("0A-1B-2C-00-00-01,10.0.2.255\n", true).errors.empty()) << "--yes confirms an ending";
    // Headers as spreadsheets write them, and the byte-order mark of a plan
    // saved by Notepad (before a header or a server's line).
    for (const char* text :
         {"SERIAL,IP Address\n0A-1B-2C-00-00-01,10.0.2.101\n", "\"mac\" , new_ip\n0A-1B-2C-00-00-01,10.0.2.101\n",
          "\xEF\xBB\xBF"
          "Serial Number,Address\r\n0A-1B-2C-00-00-01,10.0.2.101\r\n",
          "\xEF\xBB\xBF"
          "0A-1B-2C-00-00-01,10.0.2.101\r\n"}) {
        const PlanCheck check = CheckPlan(text, false);
        EXPECT_EQ(check.errors, std::vector<std::string>{}) << text;
        EXPECT_EQ(check.entries.size(), 1u) << text;
    }
    EXPECT_NE(ReadPlan("/nonexistent/plan.csv", false).errors.at(0).find("cannot be read"), std::string::npos);
    EXPECT_NE(ReadPlan("/", false).errors.at(0).find("cannot be read"), std::string::npos);
    // A NUL after the address is told as one, never as nothing.
    const PlanCheck nul = CheckPlan(std::string("0A-1B-2C-00-00-01,10.0.2.101\0\n", 30), false);
    ASSERT_EQ(nul.errors.size(), 1u);
    EXPECT_NE(nul.errors[0].find("10.0.2.101\\0"), std::string::npos) << nul.errors[0];
    // A device is refused before anything is read: /dev/zero never ends.
#ifdef _WIN32
    const char* const kRefusal = "cannot be read";
#else
    const char* const kRefusal = "cannot be read (not a regular file or a pipe)";
#endif
    for (const char* device : {"/dev/null", "/dev/zero"})
        EXPECT_NE(ReadPlan(device, false).errors.at(0).find(kRefusal), std::string::npos) << device;

    PlanArguments plan;
    EXPECT_EQ(ParsePlan({"plan.csv", "--parallel", "3", "--json", "--yes", "--all"}, plan), "");
    EXPECT_EQ(plan.parallel, 3);
    EXPECT_EQ(plan.file, "plan.csv");
    EXPECT_NE(ParsePlan({"plan.csv", "--parallel", "0"}, plan), "");
    EXPECT_NE(ParsePlan({}, plan), "");
}

#ifndef _WIN32
// A file larger than a plan is refused after reading at most 1 MiB and a
// byte of it, not after reading it whole (a sparse 256 MiB file here).
TEST(CliPlan, AFileIsReadNoFurtherThanAPlanCanBe)
{
    const std::string path = ::testing::TempDir() + "tessel-plan-" + std::to_string(::getpid()) + ".csv";
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    EXPECT_NE(ReadPlan(path, false).errors.at(0).find("lists no server"), std::string::npos);
    ASSERT_EQ(::truncate(path.c_str(), 256L << 20), 0);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const PlanCheck check = ReadPlan(path, false);
    ::getrusage(RUSAGE_SELF, &after);
    std::remove(path.c_str());
    ASSERT_EQ(check.errors.size(), 1u);
    EXPECT_NE(check.errors[0].find("larger than a plan can be"), std::string::npos);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64L << 10) << "kilobytes more at the peak";
}

// A FIFO with no writer holds nobody: serve refuses it outright, plan reads
// it as the empty plan it is (before, open() waited for a writer for ever).
TEST(CliPlan, AFifoWithoutWriterIsNeverWaitedFor)
{
    const std::string path = ::testing::TempDir() + "tessel-plan-" + std::to_string(::getpid()) + ".fifo";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const PlanCheck served = ReadPlan(path, false, {}, 0, PlanSource::RegularFileOnly);
    const PlanCheck planned = ReadPlan(path, false);
    std::remove(path.c_str());
    ASSERT_EQ(served.errors.size(), 1u);
    EXPECT_NE(served.errors[0].find("is a pipe (FIFO), not a regular file"), std::string::npos) << served.errors[0];
    ASSERT_EQ(planned.errors.size(), 1u);
    EXPECT_NE(planned.errors[0].find("lists no server"), std::string::npos) << planned.errors[0];
}
#endif

#ifndef _WIN32
// The system refuses the thread of the first server's job: that job ends
// as failed with its line, and the run goes on to its end (the second
// server is never heard) with the table. In a namespace of the test's own,
// where the program takes port 67 and the request comes over loopback.
TEST(CliPlan, AJobWithoutAThreadEndsFailedAndTheRunGoesOn)
{
    tessel::testing::TestNamespace ns;
    REQUIRE_NAMESPACE(ns);
    // As text (a line as the job ends, the table) and as JSON (an object for
    // each planned server, the one never heard too, and the summary only).
    for (const bool json : {false, true}) {
        const std::string folder = ::testing::TempDir() + "tessel-plan-" + std::to_string(::getpid());
        std::filesystem::create_directories(folder);
        PlanArguments args;
        args.json = json;
        args.file = folder + "/plan.csv";
        std::ofstream(args.file) << "0A-1B-2C-00-00-01,10.0.2.101\n0A-1B-2C-00-00-02,10.0.2.102\n";
        args.options.logfilePath = folder + "/plan.log";
        // Counted from when the thread hears, after its start-up note
        // (8.9 s): the request sent during the note is heard.
        args.seconds = 2;
        int status = -1;
        std::string out;
        ASSERT_TRUE(ns.RunInside([&] {
            std::thread asker([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
                const auto request = tessel::testing::BuildRequest({});
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_port = htons(67);
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
                ::close(fd);
            });
            ::testing::internal::CaptureStdout();
            status = RunPlan(args, [](std::function<void()>) -> std::thread {
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            });
            out = ::testing::internal::GetCapturedStdout();
            asker.join();
        }));
        std::filesystem::remove_all(folder);
        EXPECT_EQ(status, kExitNoThread) << out;
        if (!json) {
            EXPECT_EQ(out.rfind("0A-1B-2C-00-00-01 10.0.2.101 not started (no thread) (0.0 s)\n", 0), 0u) << out;
            EXPECT_NE(out.find("0A-1B-2C-00-00-02  10.0.2.102       not heard"), std::string::npos) << out;
            continue;
        }
        EXPECT_EQ(out, R"x({"serial":"0A-1B-2C-00-00-01","address":"10.0.2.101","outcome":"not started (no thread)",)x"
                       R"("status":71,"seconds":0.0})"
                       "\n"
                       R"({"serial":"0A-1B-2C-00-00-02","address":"10.0.2.102","outcome":"not heard","status":-1,)"
                       R"("seconds":null})"
                       "\n"
                       R"({"summary":{"servers":2,"stored":0,"unlisted":0,"other_interface":0,"ended":"time limit",)"
                       R"("status":71}})"
                       "\n");
    }
}
#endif

// A server of another maker is never heard without --all: the plan says so
// for each such line before anything listens.
TEST(CliPlan, AnotherMakersSerialNeedsAll)
{
    const PlanCheck check =
        CheckPlan("0A-1B-2C-00-00-01,10.0.2.101\n0A-1B-2D-00-00-02,10.0.2.102\n00-11-22-33-44-55,10.0.2.103\n", false);
    ASSERT_EQ(check.entries.size(), 3u);
    HeadlessOptions options;
    const std::vector<std::string> errors = NeverHeard(check.entries, options);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("line 3: 00-11-22-33-44-55 is not a MERROW serial number", 0), 0u) << errors[0];
    options.onlyMerrow = false;
    EXPECT_EQ(NeverHeard(check.entries, options), std::vector<std::string>{}) << "--all";
}

TEST(CliPlan, ExitStatusIsTheWorstServersAndTheTableTellsEach)
{
    auto row = [](PlanRow::State state, int status = 0) {
        PlanRow r{"0A-1B-2C-00-00-01", "10.0.2.101"};
        r.state = state;
        r.status = status;
        return r;
    };
    struct Case {
        std::vector<PlanRow> rows;
        int status;
    };
    const Case cases[] = {
        {{row(PlanRow::Ended, kExitOk), row(PlanRow::Ended, kExitOk)}, kExitOk},
        {{row(PlanRow::Ended, kExitOk), row(PlanRow::NotHeard)}, kExitNoRequest},
        {{row(PlanRow::Ended, kExitAlreadySet), row(PlanRow::Ended, kExitUnconfirmed)}, kExitUnconfirmed},
        {{row(PlanRow::Ended, kExitUntilRestart), row(PlanRow::Waiting)}, kExitNoRequest},
        {{row(PlanRow::Ended, kExitNoRequest), row(PlanRow::Ended, kExitNotVerified)}, kExitNotVerified},
        {{row(PlanRow::Ended, kExitNotVerified), row(PlanRow::Ended, kExitRefused)}, kExitRefused},
        {{row(PlanRow::Ended, kExitRefused), row(PlanRow::Ended, kExitNotChecked)}, kExitNotChecked},
    };
    for (const Case& c : cases) EXPECT_EQ(PlanExitStatus(c.rows), c.status) << c.status;

    PlanRow stored = row(PlanRow::Ended, kExitOk);
    stored.seconds = 34.25;
    PlanRow interrupted = row(PlanRow::Interrupted);
    interrupted.stage = StageRestarting;
    PlanRow interruptedStored = row(PlanRow::Interrupted);
    interruptedStored.stage = StageStored;
    EXPECT_EQ(PlanLine(stored), "0A-1B-2C-00-00-01 10.0.2.101 stored (34.2 s)");
    EXPECT_EQ(PlanJsonLine(stored),
              R"({"serial":"0A-1B-2C-00-00-01","address":"10.0.2.101","outcome":"stored","status":0,"seconds":34.2})");
    EXPECT_EQ(
        PlanJsonLine(row(PlanRow::NotHeard)),
        R"({"serial":"0A-1B-2C-00-00-01","address":"10.0.2.101","outcome":"not heard","status":-1,"seconds":null})");
    const std::string table = PlanTable({stored, interrupted});
    EXPECT_EQ(table.substr(0, table.find('\n')).substr(0, 6), "SERIAL");
    EXPECT_NE(table.find("interrupted after the reply"), std::string::npos) << table;
    EXPECT_EQ(
        PlanJsonSummary({stored, interrupted, interruptedStored}, 2, 5, "interrupted", 130),
        R"({"summary":{"servers":3,"stored":2,"unlisted":2,"other_interface":5,"ended":"interrupted","status":130}})");
}

TEST(CliArguments, InterfaceIsLookedUpBeforeListening)
{
    const std::vector<NetworkInterface> here = {{"lo", 1, "127.0.0.1"}, {"eth0", 2, "10.77.0.1"}, {"eth1", 3, ""}};
    struct Case {
        const char* name;
        std::string error;  // a part of the complaint; empty: chosen
        unsigned index;
    };
    for (const Case& c : {Case{"eth0", "", 2}, Case{"eth1", "eth1 has no IPv4 address", 0},
                          Case{"wlan0", "no interface wlan0 here; the interfaces are: lo, eth0, eth1", 0}}) {
        ListArguments list;
        ASSERT_EQ(ParseList({"--interface", c.name}, list), "");
        const std::string error = ChooseInterface(list.options, here);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(error.empty(), c.error.empty()) << error;
        EXPECT_EQ(list.options.interfaceIndex, c.index) << c.name;
    }
    ListArguments list;
    ASSERT_EQ(ParseList({"--interface", "eth0"}, list), "");
    ASSERT_EQ(ChooseInterface(list.options, here), "");
    EXPECT_EQ(list.options.interfaceAddress, "10.77.0.1") << "servers there are told our address there";
    HeadlessOptions none;
    EXPECT_EQ(ChooseInterface(none, {}), "") << "no --interface: nothing to look up";
}

// Text from a plan file or a command line reaches the terminal escaped and
// shortened: nothing in it can move the cursor, retitle the window or hide.
TEST(CliReport, TextIsShownEscapedAndShortened)
{
    struct Case {
        std::string text, shown;
    };
    const Case cases[] = {
        {"10.77.0.101", "10.77.0.101"},
        {std::string("10.77.0.101\0", 12), "10.77.0.101\\0"},
        {"a\r\tb\n", "a\\r\\tb\\n"},
        {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
        {"C:\\plans", "C:\\\\plans"},
        {"Pl\xc3\xa4ne \xe2\x80\x94 ok", "Pl\xc3\xa4ne \xe2\x80\x94 ok"},  // UTF-8 stays
        {"\xc2\x9b"
         "31m \xff \xc0\xaf",
         "\\xc2\\x9b31m \\xff \\xc0\\xaf"},  // C1 CSI, not UTF-8, overlong
        {std::string(500000, 'x'), std::string(80, 'x') + "... (500000 bytes)"},
    };
    for (const Case& c : cases) EXPECT_EQ(ShownText(c.text), c.shown) << c.shown;
}

// A plan's errors come in the order of their lines whichever check found
// them, and a file that cannot be read says why, in the system's words.
TEST(CliPlan, RefusalsInLineOrderWithTheSystemsReason)
{
    const std::string path = ::testing::TempDir() + "tessel-order-" + std::to_string(std::rand()) + ".csv";
    std::ofstream(path) << "00-11-22-33-44-55,10.0.2.101\n0A-1B-2C-00-00-02,10.0.2\n";
    const PlanCheck check = CheckPlanFile(path, false, HeadlessOptions{}, {});
    std::remove(path.c_str());
    ASSERT_EQ(check.errors.size(), 2u);
    EXPECT_EQ(check.errors[0].rfind("line 1: 00-11-22-33-44-55 is not a MERROW serial number", 0), 0u);
    EXPECT_EQ(check.errors[1].rfind("line 2: not an IP address", 0), 0u);
    // The network where servers are heard: its broadcast address is refused
    // with --yes too.
    const std::vector<NetworkInterface> here = {{"eth0", 2, "10.0.2.1", 24}};
    EXPECT_NE(
        CheckPlan("0A-1B-2C-00-00-01,10.0.2.255\n", true, here).errors.at(0).find("network address or the broadcast"),
        std::string::npos);
#ifndef _WIN32
    for (const auto& [file, reason] : {std::pair{"/nonexistent/plan.csv", "No such file or directory"},
                                       std::pair{"/etc/hostname/plan.csv", "Not a directory"}}) {
        const auto errors = ReadPlan(file, false).errors;
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(reason), std::string::npos) << errors[0];
    }
#endif
}

// The command's last wait after a confirmed store is only the final check:
// the terminal does not say "Retrying..." after "Saving...".
TEST(CliTerminal, NoRetryingAfterAConfirmedStore)
{
    for (const int highest : {StageVerified, StageStored}) {
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        TerminalFrontEnd ui("0A-1B-2C-00-00-01", {10, 0, 0, 9}, false, out);
        ui.FollowStage([highest] { return highest; });
        ui.OpenStage(IDS_STAGE_RETRYING);
        ui.Repaint();
        ui.CloseStage();
        std::rewind(out);
        std::string text;
        for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
        std::fclose(out);
        EXPECT_EQ(text, highest == StageStored ? "Checking that the server answers at 10.0.0.9...\n"
                                               : StageHeadline(IDS_STAGE_RETRYING) + "\n");
    }
}

// Box texts on a terminal: nothing that only a window can follow.
TEST(CliTerminal, BoxesSayNothingOnlyAWindowCanFollow)
{
    int boxes = 0;
    for (int id = IDS_ABOUTBOX; id <= IDS_NETWORK_EDGE_ADDRESS; ++id) {
        // The window's own: port 67 at start-up, the printer wizard.
        if (FindBoxStyle(id) == nullptr || id == IDS_PORT_IN_USE || id == IDS_REGISTER_SERVER) continue;
        ++boxes;
        const std::string text = BoxTextForTerminal(id);
        for (const char* windowOnly : {"F1", "Click", "Next dialog", "Do you want to set"})
            EXPECT_EQ(text.find(windowOnly), std::string::npos) << id << ": " << text;
        EXPECT_FALSE(text.empty() || text.back() == '\n') << id;
    }
    EXPECT_GT(boxes, 20);
    EXPECT_NE(BoxTextForTerminal(IDS_NOT_VERIFIED).find("The support logfile tells each step"), std::string::npos);
}

#ifndef _WIN32
// A logfile that cannot be written is told with the system's reason: at
// the open, or, when the writes fail, by the close at the latest.
TEST(CliLogfile, FailuresAreToldWithTheSystemsReason)
{
    struct Case {
        std::string path;
        bool opens;
        const char* reason;
    };
    const Case cases[] = {
        {"/nonexistent/tessel.log", false, "No such file or directory"},
        {"", false, "No such file or directory"},
        {::testing::TempDir(), false, "Is a directory"},
        {"/dev/full", true, "No space left on device"},
    };
    for (const Case& c : cases) {
        CLogfile log(LogfilePath{c.path});
        EXPECT_EQ(log.IsOpen(), c.opens) << c.path;
        if (c.opens) {
            log.WriteEvent(1);
            log.Close();
        }
        EXPECT_EQ(log.Failure(), c.reason) << c.path;
    }
}
#endif
