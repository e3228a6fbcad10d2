// tessel-cli: the headless front end on the same core as the window, for
// scripting and for machines without a display.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/headless.h"
#include "platform/clock.h"
#include "platform/hostinfo.h"

using namespace tessel;
using namespace tessel::cli;

namespace {

constexpr int kDefaultListSeconds = 60;

const char* const kUsage =
    "Usage: tessel-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  list [--seconds N] [--all] [--print-servers-only] [--logfile PATH]\n"
    "        Listen on UDP port 67 and print each MERROW-server heard as one\n"
    "        line \"SERIAL ADDRESS\", then a summary after N seconds (default 60)\n"
    "        or Ctrl+C. Restart a server to make it ask for an address.\n"
    "        --all                 list servers of any maker, not only MERROW\n"
    "        --print-servers-only  list only servers that announce themselves\n"
    "                              as print servers (class \"PS\")\n"
    "        --logfile PATH        write the support logfile to PATH instead of\n"
    "                              \"MERROW Tessel.log\" in the current directory\n"
    "  host  show this computer's name and the address it gives servers\n"
    "  --help\n"
    "\n"
    "Exit status: 0 done, 64 bad arguments, 69 UDP port 67 unavailable.\n"
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
        } else {
            return Usage("unknown or incomplete option for list: " + a);
        }
    }

    Headless headless(options);
    headless.Start();
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
    if (command == "host" && args.empty()) return Host();
    return Usage("unknown command: " + command);
}
