#include "cli/plan_file.h"

#include <algorithm>
#include <cerrno>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <cstdlib>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>

#include "cli/arguments.h"
#include "cli/report.h"
#include "resources/texts.h"
#include "workflow/set_ip_command.h"

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

// A column's name as a spreadsheet heads it: "Serial number", "MAC",
// "IP address", "new_ip" and the like, in any case and spelling of blanks.
bool IsColumnName(const std::string& field)
{
    static const std::set<std::string> kNames = {
        "serial",          "serialnumber", "serialno",    "sn",         "mac",   "macaddress",   "hwaddress",
        "hardwareaddress", "server",       "servername",  "device",     "name",  "address",      "ip",
        "ipaddress",       "ipv4",         "ipv4address", "newaddress", "newip", "newipaddress", "desiredaddress",
        "desiredip"};
    std::string word;
    for (const char c : field)
        if (std::isalnum(static_cast<unsigned char>(c)))
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return kNames.count(word) != 0;
}

// Only a line of column names is a header: anything else on line 1 (a
// mistyped serial number above all) is checked as a server's line.
bool IsHeader(const std::vector<std::string>& fields)
{
    return std::all_of(fields.begin(), fields.end(), IsColumnName);
}

std::string RefusalReason(int box)
{
    switch (box) {
    case IDS_ZERO_ADDRESS:
        return "0.0.0.0 cannot be given to a server";
    case IDS_BROADCAST_ADDRESS:
        return "the broadcast address cannot be given to a server";
    case IDS_UNREACHABLE_ADDRESS:
        return "no server can be reached at a this-network, loopback, multicast or reserved address";
    case IDS_NETWORK_EDGE_ADDRESS:
        return "the network address or the broadcast address of a network where servers are heard cannot be "
               "given to a server";
    default:
        return "an address ending in 0, 1 or 255 is refused without --yes";
    }
}

}  // namespace

PlanCheck CheckPlan(const std::string& text, bool reservedEndingConfirmed,
                    const std::vector<NetworkInterface>& interfaces, unsigned onlyInterface)
{
    PlanCheck check;
    std::map<std::string, int> serialLines, addressLines;
    // A plan saved by Notepad begins with the UTF-8 byte-order mark.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::istringstream in(
        text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0 ? text.substr(kByteOrderMark.size()) : text);
    bool first = true;
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        // A quote never holds a "#": serial numbers and addresses have none.
        const std::string line = Trimmed(raw.substr(0, raw.find('#')));
        if (line.empty()) continue;
        const std::vector<std::string> fields = SplitFields(line);
        const bool header = first && IsHeader(fields);
        first = false;
        if (header) continue;
        auto refuse = [&check, number](const std::string& why) {
            check.errors.push_back("line " + std::to_string(number) + ": " + why);
        };
        if (fields.size() != 2) {
            refuse("expected SERIAL,ADDRESS (two fields), found " + std::to_string(fields.size()) + ": " +
                   ShownText(line));
            continue;
        }
        const auto serial = NormalizeSerial(fields[0]);
        if (!serial) {
            refuse("not a serial number (six hexadecimal pairs, e.g. 0A-1B-2C-01-02-03): " + ShownText(fields[0]));
            continue;
        }
        const auto address = ParseAddress(fields[1]);
        if (!address) {
            refuse("not an IP address (four numbers 0 to 255 joined by dots): " + ShownText(fields[1]));
            continue;
        }
        if (const int box = RefusingBoxHere(*address, reservedEndingConfirmed, interfaces, onlyInterface)) {
            refuse(FormatAddress(*address) + " refused: " + RefusalReason(box));
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

PlanCheck ReadPlan(const std::string& path, bool reservedEndingConfirmed,
                   const std::vector<NetworkInterface>& interfaces, unsigned onlyInterface, PlanSource source)
{
    PlanCheck unreadable;
    auto refuse = [&unreadable, &path](const std::string& why) {
        unreadable.errors.push_back(ShownText(path) + ": " + why);
        return unreadable;
    };
    // The system's own reason: missing, no permission, a folder that
    // cannot be entered...
    auto unreadableBecause = [&refuse](int error) {
        return refuse("cannot be read: " + std::generic_category().message(error));
    };
    // At most one byte more than a plan can hold, whatever the file's size.
    std::string text(kMaxPlanBytes + 1, '\0');
#ifdef _WIN32
    (void)source;
    // A device such as /dev/zero never ends; a folder reads as nothing.
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (error) return refuse("cannot be read: " + error.message());
    if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::fifo)
        return refuse("cannot be read (not a regular file or a pipe)");
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) return unreadableBecause(errno != 0 ? errno : EIO);
    errno = 0;
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) return unreadableBecause(errno != 0 ? errno : EIO);
    text.resize(static_cast<std::size_t>(file.gcount()));
#else
    // Opened without waiting: a FIFO in the plan's place would otherwise
    // hold open() until some writer came, and with it a service's stop.
    // What was opened is judged, not what the name was a moment before.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return unreadableBecause(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) return unreadableBecause(errno);
    const bool pipe = S_ISFIFO(info.st_mode);
    // A device such as /dev/zero never ends; a folder reads as nothing.
    if (pipe && source == PlanSource::RegularFileOnly)
        return refuse("is a pipe (FIFO), not a regular file; serve reads its plan only from a regular file");
    if (!S_ISREG(info.st_mode) && !pipe) return refuse("cannot be read (not a regular file or a pipe)");
    // A pipe's writer is waited for while it writes; one that never came
    // leaves an empty plan at once.
    if (pipe && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return unreadableBecause(errno);
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t got = ::read(fd, text.data() + length, text.size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return unreadableBecause(errno);
        if (got == 0) break;
        length += static_cast<std::size_t>(got);
    }
    text.resize(length);
#endif
    if (text.size() > kMaxPlanBytes) return refuse("larger than a plan can be (1 MiB)");
    PlanCheck check = CheckPlan(text, reservedEndingConfirmed, interfaces, onlyInterface);
    if (check.errors.empty() && check.entries.empty()) check.errors.push_back(ShownText(path) + ": lists no server");
    return check;
}

std::vector<std::string> NeverHeard(const std::vector<PlanEntry>& entries, const HeadlessOptions& options)
{
    std::vector<std::string> errors;
    for (const PlanEntry& entry : entries)
        if (!HeardWith(entry.serial, options))
            errors.push_back("line " + std::to_string(entry.line) + ": " + entry.serial +
                             " is not a MERROW serial number; such a server is heard only with --all");
    return errors;
}

PlanCheck CheckPlanFile(const std::string& path, bool reservedEndingConfirmed, const HeadlessOptions& options,
                        const std::vector<NetworkInterface>& interfaces)
{
    PlanCheck check = ReadPlan(path, reservedEndingConfirmed, interfaces, options.interfaceIndex);
    for (std::string& error : NeverHeard(check.entries, options)) check.errors.push_back(std::move(error));
    // "line N: ..." in the order of N; the file's own errors have no line.
    auto line = [](const std::string& error) {
        return error.rfind("line ", 0) == 0 ? std::atol(error.c_str() + 5) : 0L;
    };
    std::stable_sort(check.errors.begin(), check.errors.end(),
                     [&line](const std::string& a, const std::string& b) { return line(a) < line(b); });
    return check;
}

}  // namespace tessel::cli
