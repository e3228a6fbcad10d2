#include "cli/support_commands.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "cli/exit_status.h"
#include "cli/headless.h"
#include "engine/assignment_procedure.h"
#include "engine/ipaddress.h"
#include "engine/shared_state.h"
#include "log/events.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/internet_session.h"
#include "platform/privileges.h"
#include "resources/texts.h"
#include "workers/hand_over.h"
#include "workers/icmp_probe.h"

namespace tessel::cli {

namespace {

// The echo probe waits 4000 ms for its reply; one more poll step covers it.
constexpr int kIcmpPolls = kIcmpProbeTimeoutMs / static_cast<int>(kPollStepMs) + 1;

struct StepArguments {
    std::string kind;
    std::string address;
    std::optional<std::string> logfilePath;
};

// KIND ADDRESS [--logfile PATH]; the error is empty when they are good.
std::string ParseStep(const std::vector<std::string>& args, StepArguments& out)
{
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--logfile" && i + 1 < args.size())
            out.logfilePath = args[++i];
        else if (!args[i].empty() && args[i][0] == '-')
            return "unknown or incomplete option: " + args[i];
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2) return "give what to do and an address";
    out.kind = positional[0];
    if (!ParseAddress(positional[1]))
        return "not an IP address (four numbers 0 to 255 joined by dots): " + positional[1];
    out.address = positional[1];
    return {};
}

// Parses the step and checks its kind against the two a command knows; on a
// bad command line prints why and the usage, and answers false.
bool ParseStepOrTell(const std::vector<std::string>& args, const char* command, const char* first, const char* second,
                     StepArguments& step)
{
    std::string error = ParseStep(args, step);
    if (error.empty() && step.kind != first && step.kind != second)
        error = std::string("unknown ") + command + ": " + step.kind;
    if (error.empty()) return true;
    std::fprintf(stderr, "tessel-cli: %s\nUsage: tessel-cli %s %s|%s ADDRESS [--logfile PATH]\n", error.c_str(),
                 command, first, second);
    return false;
}

// A step writes a logfile only when asked with --logfile: the default one
// may hold the support log of a failed set that is still to be sent.
std::unique_ptr<CLogfile> OpenLogfile(const StepArguments& step)
{
    return step.logfilePath ? std::make_unique<CLogfile>(LogfilePath{*step.logfilePath}) : nullptr;
}

int Tell(bool answered, const std::string& yes, const std::string& no)
{
    std::printf("%s\n", (answered ? yes : no).c_str());
    return answered ? kExitOk : kExitNotDone;
}

}  // namespace

int Probe(const std::vector<std::string>& args)
{
    StepArguments step;
    if (!ParseStepOrTell(args, "probe", "icmp", "port80", step)) return kExitUsage;
    auto log = OpenLogfile(step);
    Clock& clock = RealClock();
    auto request = std::make_shared<ProbeRequest>(step.address);
    if (step.kind == "icmp") {
        // The window probes without logging; so does this.
        const bool started = StartIcmpProbe(request);
        AwaitOutcome(*request, clock, kIcmpPolls);
        switch (ProbeAnswer(*request, started)) {
        case IcmpAnswer::Answered:
        case IcmpAnswer::NoAnswer:
            break;
        case IcmpAnswer::NotPermitted:
            std::printf("%s was not checked: this program is not permitted to send ICMP echo requests here.\n%s\n",
                        step.address.c_str(), CapabilitiesAdvice(RunningProgramPath("tessel-cli")).c_str());
            return kExitNotChecked;
        case IcmpAnswer::NotSent:
            std::printf("%s was not checked: the ICMP echo request could not be sent.\n", step.address.c_str());
            return kExitNotChecked;
        }
        return Tell(request->result.load() != 0, step.address + " answered the ICMP echo request.",
                    step.address + " did not answer the ICMP echo request within 4 s.");
    }
    const bool connected = CheckWebPort(NetworkWorkers(), step.address, clock, log.get());
    if (connected) LogEvent(log.get(), EvTemporarySuccess, step.address);
    return Tell(connected, step.address + " accepted a connection on port 80.",
                step.address + " did not accept a connection on port 80 within 8.4 s.");
}

int Store(const std::vector<std::string>& args)
{
    StepArguments step;
    if (!ParseStepOrTell(args, "store", "http", "ftp", step)) return kExitUsage;
    auto log = OpenLogfile(step);
    auto session = std::make_shared<InternetSession>(ApplicationName(TextOf(IDS_PROGRAM_TITLE)));
    if (step.kind == "http") {
        const bool stored =
            StoreByWebForm(NetworkWorkers(), step.address, step.address, session, RealClock(), log.get());
        return Tell(stored, step.address + " stored the address through its web form.",
                    step.address + " did not confirm the web form within 2.8 s.");
    }
    // As after a verified assignment: the store raises the stage to 5.
    SharedState shared;
    shared.logFile = log.get();
    shared.stage.store(StageVerified);
    NetworkWorkers().StoreOverFtp(step.address, session, shared);
    return Tell(shared.stage.load() == StageStored, step.address + " stored the address in its FTP configuration file.",
                step.address + " did not take the address over FTP (the logfile says at which step).");
}

}  // namespace tessel::cli
