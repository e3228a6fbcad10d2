// What tessel-cli plan tells at the end of each job and of the run: the
// outcome of each planned server in a word, its line (text or JSON), the
// table, and the one exit status of the run.
#pragma once

#include <string>
#include <vector>

#include "engine/answered_servers.h"

namespace tessel::cli {

// Where a planned server stands.
struct PlanRow {
    std::string serial;
    std::string address;
    enum State { NotHeard, Waiting, Running, Ended, Interrupted } state = NotHeard;
    int status = 0;         // Ended: the exit status set would have given
    int stage = -1;         // Interrupted: the highest stage the job reached
    double seconds = -1.0;  // from the start of its job to its end; below 0 when it never started
};

// The outcome in a few words: "stored", "not heard", "interrupted after the reply", ...
std::string PlanOutcome(const PlanRow& row);

// The line printed as a job ends: "SERIAL ADDRESS OUTCOME (12.3 s)".
std::string PlanLine(const PlanRow& row);
// The same as one JSON object: {"serial","address","outcome","status","seconds"}.
std::string PlanJsonLine(const PlanRow& row);
// {"summary":{"servers","stored","unlisted","other_interface","ended","status"}}.
std::string PlanJsonSummary(const std::vector<PlanRow>& rows, int unlisted, int otherInterface,
                            const std::string& ended, int status);

// "12 requests from 3 servers" ("from at least 65536 servers" when the
// engine gave up counting them exactly).
std::string PassedOverText(const PassedOverCount& count);

// Serial, address, outcome and time taken, one row per planned server in
// plan order, with a heading.
std::string PlanTable(const std::vector<PlanRow>& rows);

// 0 only when every planned server ended stored; otherwise the status of
// the server that fared worst, in this order: no thread for its job (71),
// not checked (77), the check's request not sent (74), refused or
// in use (65), not verified (2), not heard or no request (3), until restart
// (1), unconfirmed (4), already set (5). (After Ctrl+C the run ends with
// the interrupt's status instead.)
int PlanExitStatus(const std::vector<PlanRow>& rows);

}  // namespace tessel::cli
