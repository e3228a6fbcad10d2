// The help texts of tessel-cli, made from the command table: one per
// command, and the whole with the exit status table.
#pragma once

#include <string>

namespace tessel::cli {

// "list, set, plan, ...": every command's name, in the table's order.
std::string CommandNames();
// The help of one command; empty for a name that is not a command.
std::string CommandHelp(const std::string& command);
// Every command's help and the exit status table.
std::string FullUsage();

}  // namespace tessel::cli
