#include "cli/arguments.h"

#include <cctype>
#include <cstdlib>

#include "engine/network_thread.h"

namespace tessel::cli {

namespace {

// A whole number from 1 to kMaxSeconds (seconds, or jobs at once).
bool ParseSeconds(const std::string& text, int& seconds)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    static_assert(kMaxSeconds == 999999, "six digits at most");
    seconds = std::atoi(text.c_str());
    return seconds > 0;
}

// The options list and set share: which servers, how long, the logfile.
// Answers whether args[i] was one of them (i then points at its last word);
// a bad value goes to error.
bool SharedOption(const std::vector<std::string>& args, std::size_t& i, HeadlessOptions& options, int& seconds,
                  std::string& error)
{
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--all") {
        options.onlyMerrow = false;
    } else if (a == "--print-servers-only") {
        // As in the installer's mode: the class decides, not the maker.
        options.printServersOnly = true;
        options.onlyMerrow = false;
    } else if (a == "--seconds" && hasValue) {
        if (!ParseSeconds(args[++i], seconds))
            error = "--seconds needs a whole number of seconds from 1 to " + std::to_string(kMaxSeconds);
    } else if (a == "--logfile" && hasValue) {
        options.logfilePath = args[++i];
    } else if (a == "--interface" && hasValue) {
        options.interfaceName = args[++i];
    } else if (a == "--logfile-off") {
        options.logfileOff = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::string ParseList(const std::vector<std::string>& args, ListArguments& out)
{
    std::string error;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        if (SharedOption(args, i, out.options, out.seconds, error)) continue;
        if (args[i] == "--json")
            out.json = true;
        else
            return "unknown or incomplete option for list: " + args[i];
    }
    return error;
}

std::string ParseSet(const std::vector<std::string>& args, SetArguments& out)
{
    std::string error;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        if (SharedOption(args, i, out.options, out.seconds, error)) continue;
        if (args[i] == "--yes")
            out.confirm = true;
        else if (args[i] == "--unchecked")
            out.unchecked = true;
        else if (!args[i].empty() && args[i][0] == '-')
            return "unknown or incomplete option for set: " + args[i];
        else
            positional.push_back(args[i]);
    }
    if (!error.empty()) return error;
    if (positional.size() != 2) return "set needs a serial number and an address";
    const auto serial = NormalizeSerial(positional[0]);
    if (!serial) return "not a serial number (six hexadecimal pairs, e.g. 0A-1B-2C-01-02-03): " + positional[0];
    const auto address = ParseAddress(positional[1]);
    if (!address) return "not an IP address (four numbers 0 to 255 joined by dots): " + positional[1];
    out.serial = *serial;
    out.address = *address;
    return {};
}

std::string ParsePlan(const std::vector<std::string>& args, PlanArguments& out)
{
    std::string error;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        if (SharedOption(args, i, out.options, out.seconds, error)) continue;
        const std::string& a = args[i];
        if (a == "--yes") {
            out.confirm = true;
        } else if (a == "--unchecked") {
            out.unchecked = true;
        } else if (a == "--json") {
            out.json = true;
        } else if (a == "--parallel" && i + 1 < args.size()) {
            if (!ParseSeconds(args[++i], out.parallel) || out.parallel > kMaxParallel)
                error = "--parallel needs a whole number from 1 to " + std::to_string(kMaxParallel);
        } else if (!a.empty() && a[0] == '-') {
            return "unknown or incomplete option for plan: " + a;
        } else {
            positional.push_back(a);
        }
    }
    if (!error.empty()) return error;
    if (positional.size() != 1) return "plan needs one plan file";
    out.file = positional[0];
    return {};
}

std::optional<std::string> NormalizeSerial(const std::string& text)
{
    // Where the separators stand in each spelling: pairs (":" or "-"),
    // groups of four ("."), or none.
    std::size_t group = 0;
    std::string separators;
    if (text.size() == 17) {
        group = 2;
        separators = ":-";
    } else if (text.size() == 14) {
        group = 4;
        separators = ".";
    } else if (text.size() != 12) {
        return std::nullopt;
    }
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (group != 0 && i % (group + 1) == group) {
            if (separators.find(c) == std::string::npos) return std::nullopt;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    std::string serial;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        if (i > 0) serial += '-';
        serial.append(digits, i, 2);
    }
    return serial;
}

std::string ChooseInterface(HeadlessOptions& options, const std::vector<NetworkInterface>& interfaces)
{
    if (!options.interfaceName) return {};
    std::string names;
    for (const NetworkInterface& candidate : interfaces) {
        if (!names.empty()) names += ", ";
        names += candidate.name;
        if (candidate.name != *options.interfaceName) continue;
        if (candidate.address.empty())
            return std::string("interface ").append(candidate.name).append(" has no IPv4 address");
        options.interfaceIndex = candidate.index;
        options.interfaceAddress = candidate.address;
        return {};
    }
    std::string error = "no interface ";
    error.append(*options.interfaceName).append(" here; the interfaces are: ").append(names.empty() ? "(none)" : names);
    return error;
}

bool HeardWith(const std::string& serial, const HeadlessOptions& options)
{
    if (!options.onlyMerrow) return true;
    const std::string prefix = serial.substr(0, 8);
    return prefix == kMakerPrefixA || prefix == kMakerPrefixB;
}

std::string FilterDescription(const HeadlessOptions& options)
{
    std::string text;
    if (options.printServersOnly)
        text = "Hearing print servers only (class \"PS\"), of every maker.";
    else if (!options.onlyMerrow)
        text = "Hearing servers of every maker (--all).";
    else
        text = "Hearing MERROW-servers only (serial numbers 0A-1B-2C-... and 0A-1B-2D-...; --all for every maker).";
    if (options.interfaceName) {
        text.append("\nOnly requests on ").append(*options.interfaceName);
        if (!options.interfaceAddress.empty()) text.append(" (").append(options.interfaceAddress).append(")");
        text.append(" are heard.");
    }
    return text;
}

}  // namespace tessel::cli
