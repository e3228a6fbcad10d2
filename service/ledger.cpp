#include "service/ledger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace tessel::service {

namespace {

constexpr char kDefaultFolder[] = "/var/lib/tessel";
constexpr char kFileName[] = "ledger";
constexpr std::size_t kFields = 8;

std::string Field(const std::string& text)
{
    std::string out = text.empty() ? std::string("-") : text;
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

std::optional<int> ParseInt(std::string_view text)
{
    if (text.empty() || text.size() > 9) return std::nullopt;
    bool negative = text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string DefaultLedgerPath()
{
    // systemd may name several folders, separated by ':'; ours is the first.
    const char* state = std::getenv("STATE_DIRECTORY");
    std::string folder = state != nullptr && *state != '\0' ? std::string(state) : std::string(kDefaultFolder);
    if (const auto colon = folder.find(':'); colon != std::string::npos) folder.resize(colon);
    return folder + "/" + kFileName;
}

std::int64_t UtcNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string UtcText(std::int64_t ms)
{
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[48];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

std::optional<std::int64_t> ParseUtcText(std::string_view text)
{
    // Exactly the form UtcText writes.
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || text[23] != 'Z')
        return std::nullopt;
    auto number = [&](std::size_t at, std::size_t length) { return ParseInt(text.substr(at, length)); };
    const auto year = number(0, 4), month = number(5, 2), day = number(8, 2), hour = number(11, 2),
               minute = number(14, 2), second = number(17, 2), milli = number(20, 3);
    if (!year || !month || !day || !hour || !minute || !second || !milli || *month < 1 || *month > 12 || *day < 1 ||
        *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    std::tm utc{};
    utc.tm_year = *year - 1900;
    utc.tm_mon = *month - 1;
    utc.tm_mday = *day;
    utc.tm_hour = *hour;
    utc.tm_min = *minute;
    utc.tm_sec = *second;
    return static_cast<std::int64_t>(timegm(&utc)) * 1000 + *milli;
}

std::string FormatLedgerLine(const LedgerLine& line)
{
    return UtcText(line.timeMs) + "\t" + Field(line.serial) + "\t" + Field(line.address) + "\t" + Field(line.result) +
           "\t" + std::to_string(line.stage) + "\t" + Field(line.why) + "\t" + std::to_string(line.strikes) + "\t" +
           (line.nextMs > 0 ? UtcText(line.nextMs) : std::string("-")) + "\n";
}

std::optional<LedgerLine> ParseLedgerLine(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = text.find('\t', start);
        fields.push_back(text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (fields.size() != kFields) return std::nullopt;
    LedgerLine line;
    const auto time = ParseUtcText(fields[0]);
    const auto stage = ParseInt(fields[4]);
    const auto strikes = ParseInt(fields[6]);
    if (!time || !stage || !strikes || fields[1].empty() || fields[3].empty()) return std::nullopt;
    line.timeMs = *time;
    line.serial = fields[1];
    line.address = fields[2];
    line.result = fields[3];
    line.stage = *stage;
    line.why = fields[5];
    line.strikes = *strikes;
    if (fields[7] != "-") {
        const auto next = ParseUtcText(fields[7]);
        if (!next) return std::nullopt;
        line.nextMs = *next;
    }
    return line;
}

std::vector<LedgerLine> ParseLedger(std::string_view text)
{
    std::vector<LedgerLine> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) break;  // torn: never ended
        if (auto line = ParseLedgerLine(text.substr(start, end - start))) lines.push_back(std::move(*line));
        start = end + 1;
    }
    return lines;
}

std::vector<LedgerLine> ReadLedger(const std::string& path, std::string& error)
{
    error.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) error = path + ": " + std::strerror(errno);
        return {};
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            break;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ParseLedger(text);
}

Ledger::~Ledger()
{
    if (m_fd >= 0) ::close(m_fd);
}

std::string Ledger::Open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) return path + ": " + std::strerror(errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0) {
        char last = '\n';
        const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (reader >= 0) {
            if (::pread(reader, &last, 1, info.st_size - 1) != 1) last = '\n';
            ::close(reader);
        }
        // A line cut by a power cut: end it, so it stays a fragment that
        // readers skip instead of the start of the next line.
        if (last != '\n' && (!WriteAll(fd, "\n", 1) || ::fdatasync(fd) != 0)) {
            const std::string why = path + ": " + std::strerror(errno);
            ::close(fd);
            return why;
        }
    } else if (info.st_size == 0) {
        // A new file: its name in the folder is synced too, or a power cut
        // could lose the whole file.
        const std::string folder = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
    m_path = path;
    return {};
}

bool Ledger::Append(const LedgerLine& line)
{
    if (m_fd < 0) return false;
    // After a failed write (a full disk) part of a line may stand there:
    // end it first, so this line starts whole.
    std::string text = m_torn ? "\n" : "";
    text += FormatLedgerLine(line);
    // One write with O_APPEND: the line lands whole at the end, and kill -9
    // cannot cut a write into a regular file in the middle.
    m_torn = !WriteAll(m_fd, text.data(), text.size());
    return !m_torn && ::fdatasync(m_fd) == 0;
}

}  // namespace tessel::service
