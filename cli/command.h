// The commands of tessel-cli. Each command is one record in a file of its
// own under cli/commands/ (its name, synopsis, help and the function that
// runs it) and one line in the table of cli/commands.cpp; the usage text,
// the list of names and main()'s dispatch are made from that table.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace tessel::cli {

struct HeadlessOptions;

struct Command {
    const char* name;
    // The command line, indented as the usage prints it: "  list [--json] ...\n".
    const char* synopsis;
    // What it does and its own options, indented by eight blanks.
    const char* help;
    // Whether it also takes the listening options of list, set and plan
    // (--all, --logfile, --interface, ...): the usage prints them after it.
    bool listens;
    // Runs it with the words after its name; answers the exit status.
    int (*run)(const std::vector<std::string>& args);
};

// Every command in the order the usage shows them.
std::span<const Command* const> Commands();
// The command of that name; null when there is none.
const Command* FindCommand(const std::string& name);

// Says what is wrong with the command line and prints the command's help on
// stderr; answers the usage exit status.
int UsageError(const std::string& command, const std::string& complaint);

// Looks up --interface before anything listens; says why it cannot be used.
bool InterfaceUsable(HeadlessOptions& options);

}  // namespace tessel::cli
