// tessel-cli status: what serve did, from its ledger and the plan.
#include <cstdio>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/plan_file.h"
#include "cli/status_report.h"
#include "service/ledger.h"

namespace tessel::cli {

namespace {

// The plan the service serves unless another one is named.
constexpr char kServicePlan[] = "/etc/tessel/plan.csv";

int RunStatusCommand(const std::vector<std::string>& args)
{
    std::string plan = kServicePlan, ledger = service::DefaultLedgerPath();
    bool json = false, planGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--ledger" && i + 1 < args.size()) {
            ledger = args[++i];
        } else if (!args[i].empty() && args[i][0] != '-' && !planGiven) {
            plan = args[i];
            planGiven = true;
        } else {
            return UsageError("status", "unknown or incomplete option for status: " + args[i]);
        }
    }
    std::string error;
    const std::vector<service::LedgerLine> lines = service::ReadLedger(ledger, error);
    if (!error.empty()) {
        std::fprintf(stderr, "tessel-cli: the ledger cannot be read: %s\n", error.c_str());
        return kExitNoInput;
    }
    // The plan only adds the servers never seen: without it the ledger is
    // told all the same.
    const PlanCheck check = ReadPlan(plan, true);
    if (!check.errors.empty())
        std::fprintf(stderr, "tessel-cli: %s: %s (servers never seen are not told)\n", plan.c_str(),
                     check.errors.front().c_str());
    const auto rows =
        BuildStatus(check.errors.empty() ? check.entries : std::vector<PlanEntry>{}, lines, service::UtcNowMs());
    std::fputs((json ? StatusJson(rows) : StatusText(rows)).c_str(), stdout);
    return kExitOk;
}

}  // namespace

extern const Command kStatusCommand = {
    "status",
    "  status [PLAN] [--ledger PATH] [--json]\n",
    "        What serve did, from its ledger (default /var/lib/tessel/ledger)\n"
    "        and PLAN (default /etc/tessel/plan.csv): each server's last\n"
    "        outcome and when, the planned servers never seen, and the ones in\n"
    "        back-off with the time before which serve does not answer them.\n"
    "        --json  one object a line per server, then a summary\n",
    false,
    RunStatusCommand,
};

}  // namespace tessel::cli
