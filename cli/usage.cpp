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
    "        --logfile-off         switch the logfile off after its first line\n"
    "        --interface NAME      hear only requests that arrive on NAME and\n"
    "                              answer only there (others are counted)\n";

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
    {"plan",
     "  plan FILE [--parallel N] [--seconds N] [--json] [--yes] [--unchecked]\n"
     "       [--all] [--print-servers-only] [--logfile PATH] [--logfile-off]\n"
     "        Give many servers their addresses in one run. FILE lists one\n"
     "        server a line, SERIAL,ADDRESS; \"#\" starts a comment, blank lines\n"
     "        and a header line are allowed, serial numbers in any usual MAC\n"
     "        spelling. For example:\n"
     "            serial,address\n"
     "            # second floor\n"
     "            0A-1B-2C-00-00-01,10.0.2.101\n"
     "            0a:1b:2c:00:00:02,10.0.2.102\n"
     "        The whole file is checked first (the refusals of set; a serial\n"
     "        number or an address twice, a malformed line: refused with its\n"
     "        line number, nothing starts). Then, as each listed server asks,\n"
     "        its whole assignment runs as set runs it; servers not listed are\n"
     "        printed as heard and never answered. One line per server as it\n"
     "        ends, a table at the end; exit 0 only when every server stored\n"
     "        its address, else the status of the one that fared worst.\n"
     "        --parallel N  jobs at once (default 8; 1: one at a time)\n"
     "        --seconds N   hear servers for N seconds (default 900); each one\n"
     "                      heard in time gets its job, jobs end as they would\n"
     "        --json        one JSON object a line per server, then a summary\n"
     "        --yes, --unchecked  as for set, for every server\n"
     "        Ctrl+C: no further job starts; running jobs stop at their next\n"
     "        safe step, and the table tells where each server stands.\n"},
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
        if (command == "list" || command == "set" || command == "plan") text += kFilterOptions;
        return text;
    }
    return {};
}

std::string FullUsage()
{
    std::string text = "Usage: tessel-cli COMMAND [OPTIONS]   (tessel-cli COMMAND --help for one)\n\nCommands:\n";
    for (const CommandText& c : kCommands) text += c.text;
    text += "Options of list, set and plan:\n";
    text += kFilterOptions;
    // Appended in two steps: GCC 12 at -O3 misreads "\n" + string as an
    // overlapping copy (-Wrestrict).
    text += '\n';
    text += ExitStatusHelp();
    text +=
        "Without root the program needs the capabilities cap_net_bind_service\n"
        "(UDP port 67), cap_net_raw (the ICMP check of an address) and\n"
        "cap_net_admin (the ARP table). As root: setcap ";
    text += kNeededCapabilities;
    text += "+ep PATH\n";
    return text;
}

}  // namespace tessel::cli
