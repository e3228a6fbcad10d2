// tessel-cli status: what serve did, from its ledger and the plan.
#include <cstdio>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/plan_file.h"
#include "cli/report.h"
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
    // Read as a stream: only each server's last line (and its last stored
    // one) is kept, however long the ledger.
    service::LedgerLatest latest;
    bool missing = false;
    const std::string error = service::ForEachLedgerLine(
        ledger, [&latest](service::LedgerLine&& line) { latest.Add(std::move(line)); }, &missing);
    if (!error.empty()) {
        std::fprintf(stderr, "tessel-cli: the ledger cannot be read: %s\n", ShownText(error, 400).c_str());
        return kExitNoInput;
    }
    // Without a ledger every server would look "never seen": say why instead.
    if (missing) {
        std::fprintf(stderr, "tessel-cli: there is no ledger %s: serve has not written one there (yet).\n",
                     ShownText(ledger, 400).c_str());
        return kExitNoLedger;
    }
    // The plan only adds the servers never seen: without it the ledger is
    // told all the same.
    const PlanCheck check = ReadPlan(plan, true);
    if (!check.errors.empty())
        std::fprintf(stderr, "tessel-cli: %s: %s (servers never seen are not told)\n", plan.c_str(),
                     check.errors.front().c_str());
    const auto rows =
        BuildStatus(check.errors.empty() ? check.entries : std::vector<PlanEntry>{}, latest, service::UtcNowMs());
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
    "        A stored address that is not the planned one is shown beside it.\n"
    "        No ledger at that path: exit 6.\n"
    "        --json  one object a line per server, then a summary\n",
    false,
    RunStatusCommand,
};

}  // namespace tessel::cli
