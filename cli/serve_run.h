// tessel-cli serve: the service a site leaves running. It holds port 67
// until it is stopped, and every planned server that asks gets its whole
// assignment as set gives it (plan's jobs, up to --parallel at once);
// servers not in the plan are never answered. A server is served again
// whenever it asks again, except during a back-off after a failed job or an
// early ask (service/back_off.h). Each outcome is a line of the ledger;
// SIGHUP reads the plan again; SIGTERM and Ctrl+C stop at a safe step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/arguments.h"

namespace tessel::cli {

struct ServeArguments {
    PlanArguments plan;  // the options of plan mean what they mean there
    bool check = false;  // --check: check the plan and exit
    std::string ledger;  // --ledger PATH; empty: service::DefaultLedgerPath()
    // --test-only-backoff-divisor N: every length of the back-off rule
    // divided by N, for the end-to-end tests; never for a site.
    std::int64_t backOffDivisor = 1;
};

// Empty when the arguments are good, else what is wrong.
std::string ParseServe(const std::vector<std::string>& args, ServeArguments& out);

// Why --interface cannot name an interface (empty when it can): refused at
// the start and by --check alike (64). A name that can is waited for.
std::string ServeInterfaceProblem(const ServeArguments& serve);

// Why serve could not write its ledger at `path` (empty when it can): its
// folder missing, not a folder or not writable, or the ledger itself a
// folder or not writable. The start and --check refuse it alike (73).
std::string LedgerPlaceProblem(const std::string& path);

// --check: what the start would refuse, with the status the start gives
// (65 with every refused line of the plan, 73 for the ledger's place); 0
// when it would start. An --interface that is missing now is only told.
int CheckServePlan(const ServeArguments& serve);

// Runs until stopped: 0 when stopped on request.
int RunServe(const ServeArguments& serve);

}  // namespace tessel::cli
