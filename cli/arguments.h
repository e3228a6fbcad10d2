// The command lines of tessel-cli, checked before anything is opened or
// bound: each parser fills its record or says what is wrong in one line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/headless.h"
#include "engine/ipaddress.h"
#include "platform/hostinfo.h"

namespace tessel::cli {

// The longest --seconds: six digits.
inline constexpr int kMaxSeconds = 999999;

struct ListArguments {
    HeadlessOptions options;
    int seconds = 60;
    bool json = false;
};

struct SetArguments {
    HeadlessOptions options;
    int seconds = 120;
    bool confirm = false;    // --yes: go on with an ending 0, 1 or 255
    bool unchecked = false;  // --unchecked: go on when the ICMP check cannot be made
    std::string serial;      // as the list shows it
    Ipv4Bytes address{};
};

// How many jobs of a plan run at once unless --parallel says otherwise: a
// job is mostly fixed waits, so a few overlap well, and a site powered on
// together rarely has more servers asking at one moment.
inline constexpr int kDefaultParallel = 8;
inline constexpr int kMaxParallel = 64;

struct PlanArguments {
    HeadlessOptions options;
    int seconds = 900;
    int parallel = kDefaultParallel;
    bool json = false;
    bool confirm = false;    // --yes, as for set
    bool unchecked = false;  // --unchecked, as for set
    std::string file;
};

// Empty when the arguments are good, else what is wrong.
std::string ParseList(const std::vector<std::string>& args, ListArguments& out);
std::string ParseSet(const std::vector<std::string>& args, SetArguments& out);
std::string ParsePlan(const std::vector<std::string>& args, PlanArguments& out);

// A serial number in any of the usual MAC spellings ("0a:1b:2c:01:02:03",
// "0A-1B-2C-01-02-03", "0a1b.2c01.0203", "0a1b2c010203") as the list
// shows it: "0A-1B-2C-01-02-03".
std::optional<std::string> NormalizeSerial(const std::string& text);

// Looks up --interface among the interfaces: empty when there is none to
// look up or it was found with an IPv4 address (its index and address are
// then filled in), else why it cannot be used, with the names that exist.
std::string ChooseInterface(HeadlessOptions& options, const std::vector<NetworkInterface>& interfaces);

// Whether a server of this serial number can be heard with these filters
// at all (print servers are told by their class, so any serial may be one).
bool HeardWith(const std::string& serial, const HeadlessOptions& options);

// One line that says which servers are heard.
std::string FilterDescription(const HeadlessOptions& options);

}  // namespace tessel::cli
