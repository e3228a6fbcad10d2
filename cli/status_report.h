// tessel-cli status: where each server stands, from serve's ledger and the
// plan. Each server's last outcome; the planned servers never seen; the
// ones in back-off (their last line names a time before which serve does
// not answer them, and that time has not come).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/plan_file.h"
#include "service/ledger.h"

namespace tessel::cli {

struct StatusRow {
    std::string serial;
    std::string address;   // the plan's; the ledger's for a server no longer planned
    bool planned = false;  // in the plan read now
    bool seen = false;     // has a line in the ledger
    service::LedgerLine last;
    bool inBackOff = false;
};

// Plan order first, then servers of the ledger that the plan no longer lists.
std::vector<StatusRow> BuildStatus(const std::vector<PlanEntry>& plan, const std::vector<service::LedgerLine>& ledger,
                                   std::int64_t utcNowMs);

// A table with a heading, and a closing line of counts.
std::string StatusText(const std::vector<StatusRow>& rows);
// One object a line: {"serial","address","planned","last":null|{"time","result","stage","why"},
// "back_off_until":null|TIME}, then {"summary":{"planned","seen","never_seen","in_back_off"}}.
std::string StatusJson(const std::vector<StatusRow>& rows);

}  // namespace tessel::cli
