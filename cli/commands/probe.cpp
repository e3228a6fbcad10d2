// tessel-cli probe: the ICMP check or the port-80 check of one address.
#include <cstdio>
#include <memory>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/headless.h"
#include "cli/step_command.h"
#include "engine/assignment_procedure.h"
#include "engine/shared_state.h"
#include "log/events.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/privileges.h"
#include "workers/hand_over.h"
#include "workers/icmp_probe.h"

namespace tessel::cli {

namespace {

// The echo probe waits 4000 ms for its reply; one more poll step covers it.
constexpr int kIcmpPolls = kIcmpProbeTimeoutMs / static_cast<int>(kPollStepMs) + 1;

int RunProbe(const std::vector<std::string>& args)
{
    StepArguments step;
    if (const std::string error = ParseStep("probe", args, {"icmp", "port80"}, step); !error.empty())
        return UsageError("probe", error);
    auto log = OpenStepLogfile(step);
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
            // The advice list and set give for port 67: one for every command.
            std::printf("%s was not checked: this program is not permitted to send ICMP echo requests here.\n%s\n",
                        step.address.c_str(), CapabilitiesAdvice(RunningProgramPath("tessel-cli")).c_str());
            return kExitNotChecked;
        case IcmpAnswer::NotSent:
            std::printf("%s was not checked: the ICMP echo request could not be sent (no route to it?).\n",
                        step.address.c_str());
            return kExitNotSent;
        }
        return TellStep(request->result.load() != 0, step.address + " answered the ICMP echo request.",
                        step.address + " did not answer the ICMP echo request within 4 s.");
    }
    const bool connected = CheckWebPort(NetworkWorkers(), step.address, clock, log.get());
    if (connected) LogEvent(log.get(), EvTemporarySuccess, step.address);
    return TellStep(connected, step.address + " accepted a connection on port 80.",
                    step.address + " did not accept a connection on port 80 within 8.4 s.");
}

}  // namespace

extern const Command kProbeCommand = {
    "probe",
    "  probe icmp|port80 ADDRESS [--logfile PATH]\n",
    "        One ICMP echo request (4 s), or one connection to port 80 (8.4 s).\n"
    "        Writes a logfile only with --logfile.\n",
    false,
    RunProbe,
};

}  // namespace tessel::cli
