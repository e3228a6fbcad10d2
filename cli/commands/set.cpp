// tessel-cli set: one server's whole assignment, as the window runs it.
#include <algorithm>
#include <cstdio>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/headless.h"
#include "cli/interruptible_clock.h"
#include "cli/report.h"
#include "cli/terminal_front_end.h"
#include "engine/shared_state.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/system_commands.h"
#include "resources/texts.h"
#include "workflow/set_ip_command.h"

namespace tessel::cli {

namespace {

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

int RunSet(const std::vector<std::string>& args)
{
    SetArguments set;
    const std::string error = ParseSet(args, set);
    if (!error.empty()) return UsageError("set", error);
    if (!InterfaceUsable(set.options)) return kExitUsage;
    const std::string address = FormatAddress(set.address);
    // Checked before anything listens, so nobody restarts a server for an
    // address that would be refused; the command checks again once heard.
    if (const int box = RefusingBoxHere(set.address, set.confirm, NetworkInterfaces(), set.options.interfaceIndex)) {
        std::printf("%s\n", BoxTextForTerminal(box).c_str());
        std::fprintf(stderr, "tessel-cli: %s refused before listening%s.\n", address.c_str(),
                     box == IDS_RESERVED_ENDING ? " (give --yes to use it)" : "");
        return kExitRefused;
    }

    Headless headless(set.options);
    if (!headless.StartListening()) return kExitPortUnavailable;
    std::fprintf(stderr,
                 "%s\nWaiting up to %d s (once the start-up note has ended, about 9 s) for server %s. Restart it now "
                 "(power it off and on) so that it asks for an address.\n",
                 FilterDescription(set.options).c_str(), set.seconds, set.serial.c_str());
    if (!HeardWith(set.serial, set.options))
        std::fprintf(stderr, "Note: %s is not a MERROW serial number; it is heard only with --all.\n",
                     set.serial.c_str());
    headless.HearFor(set.seconds);
    for (bool found = false; !found;) {
        const HeadlessEvent event = headless.NextWhileHearing();
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
    ui.FollowStage([&clock] { return clock.HighestStage(); });
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

}  // namespace

extern const Command kSetCommand = {
    "set",
    "  set SERIAL ADDRESS [--yes] [--unchecked] [--seconds N] [--all]\n"
    "      [--print-servers-only] [--interface NAME] [--logfile PATH]\n"
    "      [--logfile-off]\n",
    "        Wait up to N seconds (default 120) for the server with that serial\n"
    "        number to ask for an address, then give it ADDRESS: reply, follow\n"
    "        its restart, verify port 80 and store the address permanently.\n"
    "        The address is checked before anything listens.\n"
    "        --yes        go on with an address ending in 0, 1 or 255\n"
    "        --unchecked  go on when the ICMP check for another device at\n"
    "                     ADDRESS cannot be made (no permission for ICMP)\n"
    "        Ctrl+C while waiting for the server ends at once; once the reply\n"
    "        is out, at the next safe step, with the state the server may be in.\n",
    true,
    RunSet,
};

}  // namespace tessel::cli
