// tessel-cli: the headless front end on the same core as the window, for
// scripting and for machines without a display. The commands stand in
// cli/commands/, one file each, and in the table of cli/commands.cpp.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/usage.h"
#include "platform/interrupt.h"
#include "platform/privileges.h"

using namespace tessel;
using namespace tessel::cli;

namespace {

bool AsksForHelp(const std::vector<std::string>& args)
{
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

}  // namespace

int main(int argc, char** argv)
{
    // Before any thread: each one starts with these sets.
    LowerNetworkRights();
    // `tessel-cli plan p.csv | tee out.txt`: when tee ends first, the run
    // still reaches its safe step, its logfile's closing line and its status.
    KeepRunningWithoutReader();
    if (argc < 2) {
        std::fprintf(stderr, "tessel-cli: no command given\n\n%s", FullUsage().c_str());
        return kExitUsage;
    }
    const std::string name = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(FullUsage().c_str(), stdout);
        return kExitOk;
    }
    const Command* command = FindCommand(name);
    if (command == nullptr) {
        std::fprintf(stderr, "tessel-cli: unknown command: %s (the commands are %s; tessel-cli --help tells more)\n",
                     name.c_str(), CommandNames().c_str());
        return kExitUsage;
    }
    if (AsksForHelp(args)) {
        std::fputs(CommandHelp(name).c_str(), stdout);
        return kExitOk;
    }
    return command->run(args);
}
