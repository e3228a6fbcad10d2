#include "cli/usage.h"

#include <vector>

#include "cli/command.h"
#include "cli/exit_status.h"

namespace tessel::cli {

namespace {

constexpr const char* kListeningOptions =
    "        --all                 hear servers of any maker, not only MERROW\n"
    "        --print-servers-only  hear only servers that announce themselves\n"
    "                              as print servers (class \"PS\"), of any maker\n"
    "        --seconds N           N seconds of hearing, 1 to 999999; they count\n"
    "                              from when the network thread hears (after its\n"
    "                              start-up note, about 9 s)\n"
    "        --logfile PATH        write the support logfile to PATH instead of\n"
    "                              \"MERROW Tessel.log\" in the current directory\n"
    "        --logfile-off         switch the logfile off after its first line\n"
    "        --interface NAME      hear only requests that arrive on NAME and\n"
    "                              answer only there (others are counted)\n";

std::string Listing(const Command& command)
{
    return std::string(command.synopsis) + command.help;
}

}  // namespace

std::string CommandNames()
{
    std::string names;
    for (const Command* command : Commands()) names.append(names.empty() ? "" : ", ").append(command->name);
    return names;
}

std::string CommandHelp(const std::string& name)
{
    const Command* command = FindCommand(name);
    if (command == nullptr) return {};
    std::string text = "Usage:\n" + Listing(*command);
    if (command->listens) text += kListeningOptions;
    return text;
}

std::string FullUsage()
{
    std::string text = "Usage: tessel-cli COMMAND [OPTIONS]   (tessel-cli COMMAND --help for one)\n\nCommands:\n";
    std::vector<std::string> listening;
    for (const Command* command : Commands()) {
        text += Listing(*command);
        if (command->listens) listening.push_back(command->name);
    }
    text += "Options of ";
    for (std::size_t i = 0; i < listening.size(); ++i)
        text.append(i == 0 ? "" : i + 1 == listening.size() ? " and " : ", ").append(listening[i]);
    text += ":\n";
    text += kListeningOptions;
    // Appended in two steps: GCC 12 at -O3 misreads "\n" + string as an
    // overlapping copy (-Wrestrict).
    text += '\n';
    text += ExitStatusHelp();
    text +=
        "Without root the network steps (UDP port 67, the ICMP check, the ARP\n"
        "table) go through Tessel's network helper, which the members of the\n"
        "group tessel may use; a command that lacks a right says what to do.\n";
    return text;
}

}  // namespace tessel::cli
