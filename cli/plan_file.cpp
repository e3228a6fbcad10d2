#include "cli/plan_file.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/arguments.h"
#include "resources/texts.h"

namespace tessel::cli {

namespace {

// A plan is a few hundred lines at most; a larger file is not a plan.
constexpr std::size_t kMaxPlanBytes = 1 << 20;

std::string Trimmed(const std::string& text)
{
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    const auto end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// A field without its blanks and, when it is quoted, its quotes.
std::string Field(const std::string& text)
{
    std::string field = Trimmed(text);
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') field = field.substr(1, field.size() - 2);
    return Trimmed(field);
}

std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::string current;
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) {
            fields.push_back(Field(current));
            current.clear();
        } else {
            current += c;
        }
    }
    fields.push_back(Field(current));
    return fields;
}

bool LooksLikeHeader(const std::vector<std::string>& fields)
{
    return !fields.empty() && !fields[0].empty() && std::isalpha(static_cast<unsigned char>(fields[0][0])) &&
           !NormalizeSerial(fields[0]);
}

std::string RefusalReason(int box)
{
    switch (box) {
    case IDS_ZERO_ADDRESS:
        return "0.0.0.0 cannot be given to a server";
    case IDS_BROADCAST_ADDRESS:
        return "the broadcast address cannot be given to a server";
    default:
        return "an address ending in 0, 1 or 255 is refused without --yes";
    }
}

}  // namespace

PlanCheck CheckPlan(const std::string& text, bool reservedEndingConfirmed)
{
    PlanCheck check;
    std::map<std::string, int> serialLines, addressLines;
    std::istringstream in(text);
    bool first = true;
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        // A quote never holds a "#": serial numbers and addresses have none.
        const std::string line = Trimmed(raw.substr(0, raw.find('#')));
        if (line.empty()) continue;
        const std::vector<std::string> fields = SplitFields(line);
        const bool header = first && LooksLikeHeader(fields);
        first = false;
        if (header) continue;
        auto refuse = [&check, number](const std::string& why) {
            check.errors.push_back("line " + std::to_string(number) + ": " + why);
        };
        if (fields.size() != 2) {
            refuse("expected SERIAL,ADDRESS (two fields), found " + std::to_string(fields.size()) + ": " + line);
            continue;
        }
        const auto serial = NormalizeSerial(fields[0]);
        if (!serial) {
            refuse("not a serial number (six hexadecimal pairs, e.g. 0A-1B-2C-01-02-03): " + fields[0]);
            continue;
        }
        const auto address = ParseAddress(fields[1]);
        if (!address) {
            refuse("not an IP address (four numbers 0 to 255 joined by dots): " + fields[1]);
            continue;
        }
        if (const int box = RefusingBox(*address, reservedEndingConfirmed)) {
            refuse(fields[1] + " refused: " + RefusalReason(box));
            continue;
        }
        const std::string dotted = FormatAddress(*address);
        const auto [serialAt, newSerial] = serialLines.emplace(*serial, number);
        const auto [addressAt, newAddress] = addressLines.emplace(dotted, number);
        if (!newSerial) refuse(*serial + " already stands on line " + std::to_string(serialAt->second));
        if (!newAddress) refuse(dotted + " already stands on line " + std::to_string(addressAt->second));
        if (newSerial && newAddress) check.entries.push_back({number, *serial, *address});
    }
    return check;
}

PlanCheck ReadPlan(const std::string& path, bool reservedEndingConfirmed)
{
    std::ifstream file(path, std::ios::binary);
    PlanCheck unreadable;
    std::error_code error;
    // A folder opens as a stream on some systems but reads as nothing.
    if (!file || std::filesystem::is_directory(path, error)) {
        unreadable.errors.push_back(path + ": cannot be read");
        return unreadable;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        unreadable.errors.push_back(path + ": cannot be read");
        return unreadable;
    }
    if (text.str().size() > kMaxPlanBytes) {
        unreadable.errors.push_back(path + ": larger than a plan can be (1 MiB)");
        return unreadable;
    }
    PlanCheck check = CheckPlan(text.str(), reservedEndingConfirmed);
    if (check.errors.empty() && check.entries.empty()) check.errors.push_back(path + ": lists no server");
    return check;
}

}  // namespace tessel::cli
