// tessel-cli plan: many servers in one run (cli/plan_run.* does the run).
#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/plan_run.h"

namespace tessel::cli {

namespace {

int RunPlanCommand(const std::vector<std::string>& args)
{
    PlanArguments plan;
    const std::string error = ParsePlan(args, plan);
    if (!error.empty()) return UsageError("plan", error);
    if (!InterfaceUsable(plan.options)) return kExitUsage;
    return RunPlan(plan);
}

}  // namespace

extern const Command kPlanCommand = {
    "plan",
    "  plan FILE [--parallel N] [--seconds N] [--json] [--yes] [--unchecked]\n"
    "       [--all] [--print-servers-only] [--interface NAME]\n"
    "       [--logfile PATH] [--logfile-off]\n",
    "        Give many servers their addresses in one run. FILE lists one\n"
    "        server a line, SERIAL,ADDRESS; \"#\" starts a comment, blank lines\n"
    "        and a header line are allowed, serial numbers in any usual MAC\n"
    "        spelling. For example:\n"
    "            serial,address\n"
    "            # second floor\n"
    "            0A-1B-2C-00-00-01,10.0.2.101\n"
    "            0a:1b:2c:00:00:02,10.0.2.102\n"
    "        The whole file is checked first (the refusals of set; a serial\n"
    "        number or an address twice, a malformed line: refused with its\n"
    "        line number, nothing starts). Then, as each listed server asks,\n"
    "        its whole assignment runs as set runs it; servers not listed are\n"
    "        printed as heard and never answered. One line per server as it\n"
    "        ends, a table at the end; exit 0 only when every server stored\n"
    "        its address, else the status of the one that fared worst.\n"
    "        --parallel N  jobs at once (default 8; 1: one at a time)\n"
    "        --seconds N   hear servers for N seconds (default 900); each one\n"
    "                      heard in time gets its job, jobs end as they would\n"
    "        --json        one JSON object a line per planned server, then a\n"
    "                      summary; stdout holds nothing else\n"
    "        --yes, --unchecked  as for set, for every server\n"
    "        Ctrl+C: no further job starts; running jobs stop at their next\n"
    "        safe step, and the table tells where each server stands.\n",
    true,
    RunPlanCommand,
};

}  // namespace tessel::cli
