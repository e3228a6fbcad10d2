// tessel-cli plan: checks the plan file, then listens and runs the Set-IP
// command for each planned server as it asks, several at once, each in a
// job of its own; prints a line per server as it ends and a table at the end.
#pragma once

#include "cli/arguments.h"

namespace tessel::cli {

// Runs the whole plan; answers the exit status.
int RunPlan(const PlanArguments& plan);

}  // namespace tessel::cli
