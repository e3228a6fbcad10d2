// The help texts of tessel-cli: one per command, and the whole.
#pragma once

#include <string>

namespace tessel::cli {

inline constexpr const char* kCommandNames = "list, set, plan, probe, store, host";

// The help of one command; empty for a name that is not a command.
std::string CommandHelp(const std::string& command);
// Every command's help and the exit status table.
std::string FullUsage();

}  // namespace tessel::cli
