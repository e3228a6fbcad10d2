#include "cli/command.h"

#include <cstdio>

#include "cli/arguments.h"
#include "cli/exit_status.h"
#include "cli/usage.h"
#include "platform/hostinfo.h"

namespace tessel::cli {

// Each defined in cli/commands/NAME.cpp.
extern const Command kListCommand, kSetCommand, kPlanCommand, kProbeCommand, kStoreCommand, kHostCommand;
#ifndef _WIN32
extern const Command kServeCommand, kStatusCommand;
#endif

namespace {

// A new command: its file under cli/commands/ and one line here.
constexpr const Command* kTable[] = {
    &kListCommand,
    &kSetCommand,
    &kPlanCommand,
    &kProbeCommand,
    &kStoreCommand,
    &kHostCommand,
#ifndef _WIN32
    // The service and its report: a systemd service of this system.
    &kServeCommand,
    &kStatusCommand,
#endif
};

}  // namespace

std::span<const Command* const> Commands()
{
    return kTable;
}

const Command* FindCommand(const std::string& name)
{
    for (const Command* command : kTable)
        if (name == command->name) return command;
    return nullptr;
}

int UsageError(const std::string& command, const std::string& complaint)
{
    std::fprintf(stderr, "tessel-cli: %s\n\n%s", complaint.c_str(), CommandHelp(command).c_str());
    return kExitUsage;
}

bool InterfaceUsable(HeadlessOptions& options)
{
    const std::string error = ChooseInterface(options, NetworkInterfaces());
    if (error.empty()) return true;
    std::fprintf(stderr, "tessel-cli: %s\n", error.c_str());
    return false;
}

}  // namespace tessel::cli
