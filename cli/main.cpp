// tessel-cli: the headless front end on the same core as the window, for
// scripting and for machines without a display.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/exit_status.h"
#include "cli/headless.h"
#include "cli/interruptible_clock.h"
#include "cli/plan_run.h"
#include "cli/report.h"
#include "cli/support_commands.h"
#include "cli/terminal_front_end.h"
#include "cli/usage.h"
#include "engine/shared_state.h"
#include "platform/clock.h"
#include "platform/hostinfo.h"
#include "platform/interrupt.h"
#include "platform/privileges.h"
#include "platform/system_commands.h"
#include "resources/texts.h"
#include "workflow/set_ip_command.h"

using namespace tessel;
using namespace tessel::cli;

namespace {

int Usage(const std::string& command, const std::string& complaint)
{
    const std::string help = CommandHelp(command);
    std::fprintf(stderr, "tessel-cli: %s\n\n%s", complaint.c_str(), help.empty() ? FullUsage().c_str() : help.c_str());
    return kExitUsage;
}

// --interface is looked up before anything listens.
bool InterfaceUsable(HeadlessOptions& options)
{
    const std::string error = ChooseInterface(options, NetworkInterfaces());
    if (error.empty()) return true;
    std::fprintf(stderr, "tessel-cli: %s\n", error.c_str());
    return false;
}

bool AsksForHelp(const std::vector<std::string>& args)
{
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

int List(const std::vector<std::string>& args)
{
    ListArguments list;
    const std::string error = ParseList(args, list);
    if (!error.empty()) return Usage("list", error);
    if (!InterfaceUsable(list.options)) return kExitUsage;

    Headless headless(list.options);
    headless.Start();
    if (!headless.WaitUntilListening()) {
        std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
        return kExitPortUnavailable;
    }
    std::fprintf(stderr,
                 "%s\nListening on UDP port 67 for %d s. Restart the server (power it off and on) so that it "
                 "asks for an address; press Ctrl+C to end.\n",
                 FilterDescription(list.options).c_str(), list.seconds);
    const std::int64_t end = RealClock().nowMs() + static_cast<std::int64_t>(list.seconds) * 1000;
    int listed = 0;
    bool failed = false, interrupted = false;
    for (bool running = true; running;) {
        const HeadlessEvent event = headless.Next(end - RealClock().nowMs());
        switch (event.kind) {
        case HeadlessEvent::Listed:
            if (list.json)
                std::printf("%s\n",
                            JsonServerLine(event.serial, event.address, std::chrono::system_clock::now()).c_str());
            else
                std::printf("%s %s\n", event.serial.c_str(), event.address.c_str());
            std::fflush(stdout);
            ++listed;
            break;
        case HeadlessEvent::NetworkFailed:
            failed = true;
            running = false;
            break;
        case HeadlessEvent::Interrupted:
            interrupted = true;
            running = false;
            break;
        case HeadlessEvent::TimedOut:
            running = false;
            break;
        }
    }
    if (failed) {
        std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
        return kExitPortUnavailable;
    }
    // Ctrl+C is how a listing is ended: not a failure.
    const int other = list.options.interfaceName ? headless.OtherInterfaceRequests() : -1;
    if (list.json) std::printf("%s\n", JsonSummaryLine(listed, interrupted, other).c_str());
    std::fprintf(stderr, "%d server%s listed.\n", listed, listed == 1 ? "" : "s");
    if (other >= 0) std::fprintf(stderr, "%s\n", OtherInterfaceLine(other).c_str());
    return Finish(headless, kExitOk);
}

// After Ctrl+C in set: the network thread is stopped at its next safe step
// (at once when nothing was sent yet), the server's state told in one line,
// and the logfile closed with its last line.
int EndInterrupted(Headless& headless, int highestStage, const std::string& serial, const std::string& address)
{
    const int stage = std::max(headless.Engine().RequestStop(), highestStage);
    std::fprintf(stdout, "\n");
    if (stage >= StageReplied)
        std::fprintf(stderr, "tessel-cli: interrupted; letting the network thread reach a safe step...\n");
    std::fprintf(stderr, "%s\n", InterruptedStateLine(stage, serial, address).c_str());
    return Finish(headless, InterruptExitStatus(), stage >= StageReplied ? kSafeStepWaitMs : kEngineStopWaitMs);
}

int Set(const std::vector<std::string>& args)
{
    SetArguments set;
    const std::string error = ParseSet(args, set);
    if (!error.empty()) return Usage("set", error);
    if (!InterfaceUsable(set.options)) return kExitUsage;
    const std::string address = FormatAddress(set.address);
    // Checked before anything listens, so nobody restarts a server for an
    // address that would be refused; the command checks again once heard.
    if (const int box = RefusingBox(set.address, set.confirm)) {
        std::printf("%s\n", BoxTextForTerminal(box).c_str());
        std::fprintf(stderr, "tessel-cli: %s refused before listening%s.\n", address.c_str(),
                     box == IDS_RESERVED_ENDING ? " (give --yes to use it)" : "");
        return kExitRefused;
    }

    Headless headless(set.options);
    headless.Start();
    if (!headless.WaitUntilListening()) {
        std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
        return kExitPortUnavailable;
    }
    std::fprintf(stderr,
                 "%s\nWaiting up to %d s for server %s. Restart it now (power it off and on) so that it asks "
                 "for an address.\n",
                 FilterDescription(set.options).c_str(), set.seconds, set.serial.c_str());
    if (!HeardWith(set.serial, set.options))
        std::fprintf(stderr, "Note: %s is not a MERROW serial number; it is heard only with --all.\n",
                     set.serial.c_str());
    const std::int64_t end = RealClock().nowMs() + static_cast<std::int64_t>(set.seconds) * 1000;
    for (bool found = false; !found;) {
        const HeadlessEvent event = headless.Next(end - RealClock().nowMs());
        switch (event.kind) {
        case HeadlessEvent::Listed:
            found = event.serial == set.serial;
            std::fprintf(stderr, "heard %s %s\n", event.serial.c_str(), event.address.c_str());
            break;
        case HeadlessEvent::NetworkFailed:
            std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
            return kExitPortUnavailable;
        case HeadlessEvent::Interrupted:
            return EndInterrupted(headless, StageIdle, set.serial, address);
        case HeadlessEvent::TimedOut:
            std::fprintf(stderr, "tessel-cli: server %s did not ask for an address in time.\n", set.serial.c_str());
            return Finish(headless, kExitNoRequest);
        }
    }

    TerminalFrontEnd ui(set.serial, set.address, set.confirm, stdout, set.unchecked);
    InterruptibleClock clock(headless.Shared());
    CSetIpCommand command(SetIpContext{headless.Shared(), ui, clock, HiddenCommands(), nullptr, false, {}});
    SetIpOutcome outcome;
    // Every wait of the command is the interruptible clock's: Ctrl+C or
    // termination throws RunInterrupted out of whichever wait it falls in,
    // and the network thread is stopped apart from the command.
    try {
        outcome = command.OnSetIpAddress();
    } catch (const RunInterrupted&) {
        return EndInterrupted(headless, clock.HighestStage(), set.serial, address);
    }
    const SetExit result = ExitForSet(outcome, address);
    if (!result.line.empty()) std::printf("%s\n", result.line.c_str());
    return Finish(headless, result.status);
}

int Plan(const std::vector<std::string>& args)
{
    PlanArguments plan;
    const std::string error = ParsePlan(args, plan);
    if (!error.empty()) return Usage("plan", error);
    if (!InterfaceUsable(plan.options)) return kExitUsage;
    return RunPlan(plan);
}

int Host()
{
    const std::string address = FirstIpv4Address();
    std::printf("host name: %s\naddress:   %s\n", LocalHostName().c_str(),
                address.empty() ? "(none found)" : address.c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    // Before any thread: each one starts with these sets.
    LowerNetworkRights();
    if (argc < 2) {
        std::fprintf(stderr, "tessel-cli: no command given\n\n%s", FullUsage().c_str());
        return kExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(FullUsage().c_str(), stdout);
        return kExitOk;
    }
    const std::string help = CommandHelp(command);
    if (help.empty()) {
        std::fprintf(stderr, "tessel-cli: unknown command: %s (the commands are %s; tessel-cli --help tells more)\n",
                     command.c_str(), kCommandNames);
        return kExitUsage;
    }
    if (AsksForHelp(args)) {
        std::fputs(help.c_str(), stdout);
        return kExitOk;
    }
    if (command == "list") return List(args);
    if (command == "set") return Set(args);
    if (command == "plan") return Plan(args);
    if (command == "probe") return Probe(args);
    if (command == "store") return Store(args);
    if (!args.empty()) return Usage("host", "host takes no arguments");
    return Host();
}
