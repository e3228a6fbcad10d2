// tessel-cli: the headless front end on the same core as the window, for
// scripting and for machines without a display.
#include <cctype>
#include <cstdio>
#include <optional>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/headless.h"
#include "cli/support_commands.h"
#include "cli/terminal_front_end.h"
#include "engine/assignment_procedure.h"
#include "engine/shared_state.h"
#include "platform/system_commands.h"
#include "workflow/set_ip_command.h"
#include "platform/clock.h"
#include "platform/hostinfo.h"

using namespace tessel;
using namespace tessel::cli;

namespace {

constexpr int kDefaultListSeconds = 60;
constexpr int kDefaultSetSeconds = 120;

// Exit status of set, by outcome.
constexpr int kExitStored = 0;         // 5: stored permanently
constexpr int kExitUntilRestart = 1;   // 4: set until the server restarts
constexpr int kExitNotVerified = 2;    // 1 to 3
constexpr int kExitNoRequest = 3;      // 0: the server's request was never seen
constexpr int kExitRefused = 65;       // a check refused the address

const char* const kUsage =
    "Usage: tessel-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  list [--seconds N] [--all] [--print-servers-only] [--logfile PATH]\n"
    "       [--logfile-off]\n"
    "        Listen on UDP port 67 and print each MERROW-server heard as one\n"
    "        line \"SERIAL ADDRESS\", then a summary after N seconds (default 60)\n"
    "        or Ctrl+C. Restart a server to make it ask for an address.\n"
    "        --all                 list servers of any maker, not only MERROW\n"
    "        --print-servers-only  list only servers that announce themselves\n"
    "                              as print servers (class \"PS\")\n"
    "        --logfile PATH        write the support logfile to PATH instead of\n"
    "                              \"MERROW Tessel.log\" in the current directory\n"
    "        --logfile-off         switch the logfile off after its first line\n"
    "  set SERIAL ADDRESS [--yes] [--seconds N] [--logfile PATH]\n"
    "        Wait up to N seconds (default 120) for the server with that serial\n"
    "        number to ask for an address, then give it ADDRESS: reply, follow\n"
    "        its restart, verify port 80 and store the address permanently.\n"
    "        --yes  go on with an address ending in 0, 1 or 255\n"
    "  probe icmp|port80 ADDRESS [--logfile PATH]\n"
    "        One ICMP echo request (4 s), or one connection to port 80 (8.4 s).\n"
    "  store http|ftp ADDRESS [--logfile PATH]\n"
    "        Make a server keep ADDRESS: its web form (2.8 s) or its FTP\n"
    "        configuration file.\n"
    "        probe and store exit 0 when answered or stored, 1 otherwise.\n"
    "  host  show this computer's name and the address it gives servers\n"
    "  --help\n"
    "\n"
    "Exit status: 0 done (set: stored permanently), 1 set until the server\n"
    "restarts, 2 not verified, 3 no request seen, 64 bad arguments, 65 address\n"
    "refused by a check, 69 UDP port 67 unavailable.\n"
    "Port 67 needs root or the capability cap_net_bind_service.\n";

int Usage(const std::string& complaint)
{
    std::fprintf(stderr, "tessel-cli: %s\n\n%s", complaint.c_str(), kUsage);
    return kExitUsage;
}

bool ParseSeconds(const std::string& text, int& seconds)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    seconds = std::atoi(text.c_str());
    return seconds > 0;
}

int List(const std::vector<std::string>& args)
{
    HeadlessOptions options;
    int seconds = kDefaultListSeconds;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--all") {
            options.onlyMaker = false;
        } else if (a == "--print-servers-only") {
            // As in the installer's mode: the class decides, not the maker.
            options.printServersOnly = true;
            options.onlyMaker = false;
        } else if (a == "--seconds" && i + 1 < args.size()) {
            if (!ParseSeconds(args[++i], seconds)) return Usage("--seconds needs a whole number of seconds above 0");
        } else if (a == "--logfile" && i + 1 < args.size()) {
            options.logfilePath = args[++i];
        } else if (a == "--logfile-off") {
            options.logfileOff = true;
        } else {
            return Usage("unknown or incomplete option for list: " + a);
        }
    }

    Headless headless(options);
    headless.Start();
    if (!headless.WaitUntilListening()) {
        std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
        return kExitPortUnavailable;
    }
    std::fprintf(stderr, "Listening on UDP port 67 for %d s. Restart the server (power it off and on) so that it asks "
                         "for an address; press Ctrl+C to end.\n", seconds);
    const std::int64_t end = RealClock().nowMs() + static_cast<std::int64_t>(seconds) * 1000;
    int listed = 0;
    bool failed = false;
    for (bool running = true; running;) {
        const HeadlessEvent event = headless.Next(end - RealClock().nowMs());
        switch (event.kind) {
        case HeadlessEvent::Listed:
            std::printf("%s %s\n", event.serial.c_str(), event.address.c_str());
            std::fflush(stdout);
            ++listed;
            break;
        case HeadlessEvent::NetworkFailed:
            failed = true;
            running = false;
            break;
        case HeadlessEvent::Interrupted:
        case HeadlessEvent::TimedOut:
            running = false;
            break;
        }
    }
    if (failed) {
        std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
        return kExitPortUnavailable;
    }
    if (!headless.Stop()) {
        std::fprintf(stderr, "tessel-cli: the network thread did not stop in time\n");
        std::fflush(nullptr);
        std::_Exit(1);
    }
    std::fprintf(stderr, "%d server%s listed.\n", listed, listed == 1 ? "" : "s");
    return kExitOk;
}

// "0a:1b:2c:01:02:03" or "0A-1B-2C-01-02-03" as the list shows it.
std::optional<std::string> NormalizeSerial(const std::string& text)
{
    if (text.size() != 17) return std::nullopt;
    std::string serial = text;
    for (std::size_t i = 0; i < serial.size(); ++i) {
        char& c = serial[i];
        if (i % 3 == 2) {
            if (c != '-' && c != ':') return std::nullopt;
            c = '-';
        } else {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return serial;
}

int ExitFor(int result)
{
    switch (result) {
    case StageStored: return kExitStored;
    case StageVerified: return kExitUntilRestart;
    case StageAwaitRequest: return kExitNoRequest;
    default: return kExitNotVerified;
    }
}

int Set(const std::vector<std::string>& args)
{
    HeadlessOptions options;
    int seconds = kDefaultSetSeconds;
    bool confirm = false;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--yes") {
            confirm = true;
        } else if (a == "--seconds" && i + 1 < args.size()) {
            if (!ParseSeconds(args[++i], seconds)) return Usage("--seconds needs a whole number of seconds above 0");
        } else if (a == "--logfile" && i + 1 < args.size()) {
            options.logfilePath = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            return Usage("unknown or incomplete option for set: " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) return Usage("set needs a serial number and an address");
    const auto serial = NormalizeSerial(positional[0]);
    if (!serial) return Usage("not a serial number (six hexadecimal pairs, e.g. 0A-1B-2C-01-02-03): " + positional[0]);
    const auto address = ParseAddress(positional[1]);
    if (!address) return Usage("not an IP address (four numbers 0 to 255 joined by dots): " + positional[1]);

    Headless headless(options);
    headless.Start();
    if (!headless.WaitUntilListening()) {
        std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
        return kExitPortUnavailable;
    }
    std::fprintf(stderr, "Waiting up to %d s for server %s. Restart it now (power it off and on) so that it asks for "
                         "an address.\n", seconds, serial->c_str());
    const std::int64_t end = RealClock().nowMs() + static_cast<std::int64_t>(seconds) * 1000;
    bool found = false;
    while (!found) {
        const HeadlessEvent event = headless.Next(end - RealClock().nowMs());
        if (event.kind == HeadlessEvent::Listed) {
            found = event.serial == *serial;
            std::fprintf(stderr, "heard %s %s\n", event.serial.c_str(), event.address.c_str());
            continue;
        }
        if (event.kind == HeadlessEvent::NetworkFailed) {
            std::fprintf(stderr, "tessel-cli: %s\n", headless.NetworkFailure().c_str());
            return kExitPortUnavailable;
        }
        std::fprintf(stderr, "tessel-cli: server %s did not ask for an address%s.\n", serial->c_str(),
                     event.kind == HeadlessEvent::Interrupted ? " (interrupted)" : " in time");
        headless.Stop();
        return kExitNoRequest;
    }

    TerminalFrontEnd ui(*serial, *address, confirm, stdout);
    std::atomic<int> helpContext{kHelpAtRest};
    CSetIpCommand command(SetIpContext{headless.Shared(), ui, RealClock(), HiddenCommands(), helpContext, false, {}});
    const SetIpOutcome outcome = command.OnSetIpAddress();
    const int code = outcome.refused ? kExitRefused : ExitFor(outcome.result);
    std::fflush(stdout);
    if (!headless.Stop()) {
        // Still inside the procedure (an FTP transfer); the process ends
        // with it, without waiting.
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
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
    if (argc < 2) return Usage("no command given");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "list") return List(args);
    if (command == "set") return Set(args);
    if (command == "probe") return Probe(args);
    if (command == "store") return Store(args);
    if (command == "host" && args.empty()) return Host();
    return Usage("unknown command: " + command);
}
