// What tessel-cli tells a script and a person at the end of a command: the
// exit status of a set run with its one closing line, the state a server
// may be in after Ctrl+C, and the JSON lines of list --json.
#pragma once

#include <chrono>
#include <string>

#include "workflow/set_ip_command.h"

namespace tessel::cli {

struct SetExit {
    int status;
    std::string line;  // empty when the outcome box says it all
};

// The exit status of `set` for the command's outcome. Only a store that
// the server confirmed is 0: a 5 that came from the final ICMP check alone
// (the server answers, nothing confirmed the store) has its own status.
SetExit ExitForSet(const SetIpOutcome& outcome, const std::string& address);

// After Ctrl+C: what state the server may be in, by the highest stage the
// network thread had reached.
std::string InterruptedStateLine(int stage, const std::string& serial, const std::string& address);

// Text from a file or a command line as a terminal may show it: control
// characters and bytes that are not UTF-8 escaped as C writes them ("\r",
// "\x00", "\x1b"; a backslash doubled), and anything longer than `limit`
// bytes cut there with "... (N bytes)" after it.
std::string ShownText(const std::string& text, std::size_t limit = 80);

// Text as a JSON string, quotes included.
std::string JsonText(const std::string& text);

// One server of list --json: {"serial":...,"address":...,"heard":...}, with
// the time heard in UTC (ISO 8601, milliseconds).
std::string JsonServerLine(const std::string& serial, const std::string& address,
                           std::chrono::system_clock::time_point heard);
// The summary that ends list --json; with --interface (otherInterface not
// below 0) it counts the requests that came in on other interfaces.
std::string JsonSummaryLine(int servers, bool interrupted, int otherInterface = -1);

// "N requests on other interfaces were not heard."
std::string OtherInterfaceLine(int requests);

}  // namespace tessel::cli
