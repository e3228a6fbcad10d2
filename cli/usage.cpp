#include "cli/usage.h"

#include "cli/exit_status.h"
#include "platform/privileges.h"

namespace tessel::cli {

namespace {

struct CommandText {
    const char* name;
    const char* text;
};

constexpr const char* kFilterOptions =
    "        --all                 hear servers of any maker, not only MERROW\n"
    "        --print-servers-only  hear only servers that announce themselves\n"
    "                              as print servers (class \"PS\"), of any maker\n"
    "        --logfile PATH        write the support logfile to PATH instead of\n"
    "                              \"MERROW Tessel.log\" in the current directory\n"
    "        --logfile-off         switch the logfile off after its first line\n";

constexpr CommandText kCommands[] = {
    {"list",
     "  list [--seconds N] [--json] [--all] [--print-servers-only]\n"
     "       [--logfile PATH] [--logfile-off]\n"
     "        Listen on UDP port 67 and print each MERROW-server heard as one\n"
     "        line \"SERIAL ADDRESS\", then a summary after N seconds (default 60)\n"
     "        or Ctrl+C. Restart a server to make it ask for an address.\n"
     "        --json                one JSON object a line: {\"serial\", \"address\",\n"
     "                              \"heard\"} per server, then {\"summary\": ...}\n"},
    {"set",
     "  set SERIAL ADDRESS [--yes] [--unchecked] [--seconds N] [--all]\n"
     "      [--print-servers-only] [--logfile PATH] [--logfile-off]\n"
     "        Wait up to N seconds (default 120) for the server with that serial\n"
     "        number to ask for an address, then give it ADDRESS: reply, follow\n"
     "        its restart, verify port 80 and store the address permanently.\n"
     "        The address is checked before anything listens.\n"
     "        --yes        go on with an address ending in 0, 1 or 255\n"
     "        --unchecked  go on when the ICMP check for another device at\n"
     "                     ADDRESS cannot be made (no permission for ICMP)\n"
     "        Ctrl+C while waiting for the server ends at once; once the reply\n"
     "        is out, at the next safe step, with the state the server may be in.\n"},
    {"probe",
     "  probe icmp|port80 ADDRESS [--logfile PATH]\n"
     "        One ICMP echo request (4 s), or one connection to port 80 (8.4 s).\n"
     "        Writes a logfile only with --logfile.\n"},
    {"store",
     "  store http|ftp ADDRESS [--logfile PATH]\n"
     "        Make a server keep ADDRESS: its web form (2.8 s) or its FTP\n"
     "        configuration file. Writes a logfile only with --logfile.\n"},
    {"host", "  host\n        Show this computer's name and the address it gives servers.\n"},
};

}  // namespace

std::string CommandHelp(const std::string& command)
{
    for (const CommandText& c : kCommands) {
        if (command != c.name) continue;
        std::string text = std::string("Usage:\n") + c.text;
        if (command == "list" || command == "set") text += kFilterOptions;
        return text;
    }
    return {};
}

std::string FullUsage()
{
    std::string text = "Usage: tessel-cli COMMAND [OPTIONS]   (tessel-cli COMMAND --help for one)\n\nCommands:\n";
    for (const CommandText& c : kCommands) text += c.text;
    text += "Options of list and set:\n";
    text += kFilterOptions;
    // Appended in two steps: GCC 12 at -O3 misreads "\n" + string as an
    // overlapping copy (-Wrestrict).
    text += '\n';
    text += ExitStatusHelp();
    text += "Without root the program needs the capabilities cap_net_bind_service\n"
            "(UDP port 67), cap_net_raw (the ICMP check of an address) and\n"
            "cap_net_admin (the ARP table). As root: setcap ";
    text += kNeededCapabilities;
    text += "+ep PATH\n";
    return text;
}

}  // namespace tessel::cli
