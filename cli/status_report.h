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
    std::string stored;    // the address its latest line that holds names (stored, already set); empty: none
    bool planned = false;  // in the plan read now
    bool seen = false;     // has a line in the ledger
    service::LedgerLine last;
    bool inBackOff = false;
};

// Plan order first, then servers of the ledger that the plan no longer lists.
std::vector<StatusRow> BuildStatus(const std::vector<PlanEntry>& plan, const service::LedgerLatest& ledger,
                                   std::int64_t utcNowMs);

// A table with a heading, and a closing line of counts. A stored address
// that is not the planned one stands beside it ("10.0.0.6 (stored
// 10.0.0.5)"). What the ledger holds that is not UTF-8 text, or is a
// control character, is shown escaped ("\xff").
std::string StatusText(const std::vector<StatusRow>& rows);
// One object a line: {"serial","address","stored_address":null|ADDRESS,"planned",
// "last":null|{"time","result","stage","why"},"back_off_until":null|TIME}, then
// {"summary":{"planned","seen","never_seen","in_back_off"}}. Bytes that are
// not UTF-8 are written as the text "\xNN", so the output is always JSON.
std::string StatusJson(const std::vector<StatusRow>& rows);

}  // namespace tessel::cli
