// tessel-cli plan: checks the plan file, then listens and runs the Set-IP
// command for each planned server as it asks, several at once, each in a
// job of its own; prints a line per server as it ends and a table at the end.
#pragma once

#include "cli/arguments.h"
#include "cli/job_pool.h"

namespace tessel::cli {

// Runs the whole plan; answers the exit status. A job whose thread cannot
// be started ends as failed (kExitNoThread) with its line; the run goes on.
int RunPlan(const PlanArguments& plan, JobThreadStart start = {});

}  // namespace tessel::cli
