#include "cli/step_command.h"

#include <algorithm>
#include <cstdio>

#include "cli/exit_status.h"
#include "cli/headless.h"
#include "engine/ipaddress.h"
#include "log/logfile.h"

namespace tessel::cli {

std::string ParseStep(const std::string& command, const std::vector<std::string>& args,
                      const std::vector<std::string>& kinds, StepArguments& out)
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
    if (std::find(kinds.begin(), kinds.end(), out.kind) == kinds.end()) return "unknown " + command + ": " + out.kind;
    // Read as set reads it ("010.077.000.021" is 10.77.0.21), and used as
    // read: the probes and stores never see the text itself.
    const auto address = ParseAddress(positional[1]);
    if (!address) return "not an IP address (four numbers 0 to 255 joined by dots): " + positional[1];
    out.address = FormatAddress(*address);
    return {};
}

void StepLogfileEnd::operator()(CLogfile* log) const
{
    log->Close();
    TellLogfileNotWhole(*log);
    delete log;
}

StepLogfile OpenStepLogfile(const StepArguments& step)
{
    if (!step.logfilePath) return nullptr;
    StepLogfile log(new CLogfile(LogfilePath{*step.logfilePath}));
    TellLogfileNotOpened(*log);
    return log;
}

int TellStep(bool answered, const std::string& yes, const std::string& no)
{
    std::printf("%s\n", (answered ? yes : no).c_str());
    return answered ? kExitOk : kExitNotDone;
}

}  // namespace tessel::cli
