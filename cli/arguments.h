// The command lines of tessel-cli, checked before anything is opened or
// bound: each parser fills its record or says what is wrong in one line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/headless.h"
#include "engine/ipaddress.h"

namespace tessel::cli {

struct ListArguments {
    HeadlessOptions options;
    int seconds = 60;
    bool json = false;
};

struct SetArguments {
    HeadlessOptions options;
    int seconds = 120;
    bool confirm = false;  // --yes: go on with an ending 0, 1 or 255
    bool unchecked = false;  // --unchecked: go on when the ICMP check cannot be made
    std::string serial;    // as the list shows it
    Ipv4Bytes address{};
};

// Empty when the arguments are good, else what is wrong.
std::string ParseList(const std::vector<std::string>& args, ListArguments& out);
std::string ParseSet(const std::vector<std::string>& args, SetArguments& out);

// "0a:1b:2c:01:02:03" or "0A-1B-2C-01-02-03" as the list shows it.
std::optional<std::string> NormalizeSerial(const std::string& text);

// Whether a server of this serial number can be heard with these filters
// at all (print servers are told by their class, so any serial may be one).
bool HeardWith(const std::string& serial, const HeadlessOptions& options);

// One line that says which servers are heard.
std::string FilterDescription(const HeadlessOptions& options);

}  // namespace tessel::cli
