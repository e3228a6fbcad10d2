// tessel-cli list: every server heard, one line each, until --seconds or Ctrl+C.
#include <chrono>
#include <cstdio>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/headless.h"
#include "cli/report.h"
#include "platform/clock.h"
#include "platform/interrupt.h"

namespace tessel::cli {

namespace {

int RunList(const std::vector<std::string>& args)
{
    ListArguments list;
    const std::string error = ParseList(args, list);
    if (!error.empty()) return UsageError("list", error);
    if (!InterfaceUsable(list.options)) return kExitUsage;

    Headless headless(list.options);
    if (!headless.StartListening()) return kExitPortUnavailable;
    std::fprintf(
        stderr,
        "%s\nListening on UDP port 67 for %d s once the start-up note has ended (about 9 s). Restart the server "
        "(power it off and on) so that it asks for an address; press Ctrl+C to end.\n",
        FilterDescription(list.options).c_str(), list.seconds);
    headless.HearFor(list.seconds);
    int listed = 0;
    bool failed = false, interrupted = false;
    for (bool running = true; running;) {
        const HeadlessEvent event = headless.NextWhileHearing();
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
    // Ended by a signal, list exits as set and plan do (128 + the signal);
    // what it heard is printed whole all the same.
    const int other = list.options.interfaceName ? headless.OtherInterfaceRequests() : -1;
    if (list.json) std::printf("%s\n", JsonSummaryLine(listed, interrupted, other).c_str());
    std::fprintf(stderr, "%d server%s listed.\n", listed, listed == 1 ? "" : "s");
    if (other >= 0) std::fprintf(stderr, "%s\n", OtherInterfaceLine(other).c_str());
    return Finish(headless, interrupted ? InterruptExitStatus() : kExitOk);
}

}  // namespace

extern const Command kListCommand = {
    "list",
    "  list [--seconds N] [--json] [--all] [--print-servers-only]\n"
    "       [--interface NAME] [--logfile PATH] [--logfile-off]\n",
    "        Listen on UDP port 67 and print each MERROW-server heard as one\n"
    "        line \"SERIAL ADDRESS\", then a summary after N seconds (default 60)\n"
    "        or Ctrl+C. Restart a server to make it ask for an address.\n"
    "        --json                one JSON object a line: {\"serial\", \"address\",\n"
    "                              \"heard\"} per server, then {\"summary\": ...}\n",
    true,
    RunList,
};

}  // namespace tessel::cli
