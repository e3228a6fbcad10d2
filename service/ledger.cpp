#include "service/ledger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// Longer than any line serve writes (a sentence of why and a few fields).
constexpr std::size_t kLongestLine = 4096;

std::string Why(const std::string& path)
{
    return path + ": " + std::strerror(errno);
}

std::string FolderOf(const std::string& path)
{
    return path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
}

// A new name in the folder is synced too, or a power cut could lose it.
void SyncFolder(const std::string& path)
{
    const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

bool SameFile(const std::string& path, int fd)
{
    struct stat named {
    }, held{};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &held) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
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

bool LineHolds(const LedgerLine& line)
{
    return line.result == "stored" || line.result == "interrupted, stored" || line.result == "already set";
}

void LedgerSplitter::Feed(std::string_view bytes, const std::function<void(LedgerLine&&)>& each)
{
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!m_skipping && m_partial.size() + piece.size() > kLongestLine) {
            m_partial.clear();
            m_skipping = true;
        }
        if (!m_skipping) m_partial.append(piece);
        if (end == std::string_view::npos) return;  // the rest comes with the next piece
        if (!m_skipping)
            if (auto line = ParseLedgerLine(m_partial)) each(std::move(*line));
        m_partial.clear();
        m_skipping = false;
        bytes.remove_prefix(end + 1);
    }
}

std::vector<LedgerLine> ParseLedger(std::string_view text)
{
    std::vector<LedgerLine> lines;
    LedgerSplitter().Feed(text, [&lines](LedgerLine&& line) { lines.push_back(std::move(line)); });
    return lines;
}

std::string ForEachLedgerLine(const std::string& path, const std::function<void(LedgerLine&&)>& each, bool* missing)
{
    if (missing != nullptr) *missing = false;
    // O_NONBLOCK: opening a FIFO does not wait for a writer; it is refused
    // below like any other file that is not regular.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) return Why(path);
        if (missing != nullptr) *missing = true;
        return {};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const std::string why = S_ISREG(info.st_mode) ? Why(path) : path + ": not a regular file";
        ::close(fd);
        return why;
    }
    LedgerSplitter splitter;
    std::string why;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = Why(path);
            break;
        }
        if (n == 0) break;
        splitter.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), each);
    }
    ::close(fd);
    return why;
}

void LedgerLatest::Add(LedgerLine&& line)
{
    const auto [it, added] = m_index.emplace(line.serial, m_servers.size());
    if (added) m_servers.push_back(Server{line.serial, {}, std::nullopt});
    Server& server = m_servers[it->second];
    const std::uint64_t place = m_count++;
    if (LineHolds(line)) server.held.emplace(place, line);
    // A few lines a server: moving them down costs less than a deque's blocks.
    if (server.lines.size() == m_keep) server.lines.erase(server.lines.begin());
    server.lines.emplace_back(place, std::move(line));
}

const LedgerLatest::Server* LedgerLatest::Find(const std::string& serial) const
{
    const auto it = m_index.find(serial);
    return it == m_index.end() ? nullptr : &m_servers[it->second];
}

const LedgerLine* LedgerLatest::Last(const std::string& serial) const
{
    const Server* server = Find(serial);
    return server == nullptr ? nullptr : &server->lines.back().second;
}

const LedgerLine* LedgerLatest::Held(const std::string& serial) const
{
    const Server* server = Find(serial);
    return server == nullptr || !server->held ? nullptr : &server->held->second;
}

std::vector<const LedgerLine*> LedgerLatest::KeptInOrder() const
{
    std::vector<std::pair<std::uint64_t, const LedgerLine*>> kept;
    for (const Server& server : m_servers) {
        // The line that holds stays when it is older than the latest ones.
        if (server.held && server.held->first < server.lines.front().first)
            kept.emplace_back(server.held->first, &server.held->second);
        for (const auto& [place, line] : server.lines) kept.emplace_back(place, &line);
    }
    std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<const LedgerLine*> lines;
    lines.reserve(kept.size());
    for (const auto& [place, line] : kept) lines.push_back(line);
    return lines;
}

Ledger::~Ledger()
{
    if (m_fd >= 0) ::close(m_fd);
    if (m_lockFd >= 0) ::close(m_lockFd);
}

Ledger::Lock Ledger::TakeLock(const std::string& path, std::string& why)
{
    const std::string lockPath = path + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640);
    if (fd < 0) {
        why = Why(lockPath);
        return Lock::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool inUse = errno == EWOULDBLOCK;
        why = inUse ? path + " is in use by another tessel-cli serve" : Why(lockPath);
        char pid[24] = {};
        if (inUse && ::pread(fd, pid, sizeof pid - 1, 0) > 0 && pid[0] >= '1' && pid[0] <= '9')
            why += " (process " + std::string(pid, std::strcspn(pid, "\n")) + ")";
        ::close(fd);
        return inUse ? Lock::InUse : Lock::Failed;
    }
    // Its process, for the message of a second serve.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || !WriteAll(fd, pid.data(), pid.size())) {
        // The lock holds all the same; only the message loses its number.
    }
    if (m_lockFd >= 0) ::close(m_lockFd);
    m_lockFd = fd;
    return Lock::Held;
}

std::string Ledger::Open(const std::string& path)
{
    // O_NONBLOCK: a FIFO does not hold the open; it is refused below.
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0640);
    if (fd < 0) return Why(path);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const std::string why = S_ISREG(info.st_mode) ? Why(path) : path + ": not a regular file";
        ::close(fd);
        return why;
    }
    if (info.st_size > 0) {
        char last = '\n';
        if (::pread(fd, &last, 1, info.st_size - 1) != 1) last = '\n';
        // A line cut by a power cut: end it, so it stays a fragment that
        // readers skip instead of the start of the next line.
        if (last != '\n' && (!WriteAll(fd, "\n", 1) || ::fdatasync(fd) != 0)) {
            const std::string why = Why(path);
            ::close(fd);
            return why;
        }
    } else {
        SyncFolder(path);
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
    m_path = path;
    m_torn = false;
    CompactWhenLarge();
    return {};
}

std::string Ledger::Reopen()
{
    if (m_fd < 0 || SameFile(m_path, m_fd)) return {};
    return Open(m_path);
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
    const bool written = !m_torn && ::fdatasync(m_fd) == 0;
    CompactWhenLarge();
    return written;
}

void Ledger::CompactWhenLarge()
{
    struct stat info {};
    if (::fstat(m_fd, &info) != 0 || info.st_size <= m_compactAt) return;
    const std::int64_t before = info.st_size;
    Compaction told{before, before, Compact()};
    if (told.failure.empty() && ::fstat(m_fd, &info) == 0) told.after = info.st_size;
    // Next time past twice what is left, and never below the size: a ledger
    // of many servers is not rewritten at every line, and a failed one is
    // tried again only after as much again.
    m_compactAt = std::max(m_compactPast, 2 * told.after);
    if (m_tellCompacted) m_tellCompacted(told);
}

std::string Ledger::Compact()
{
    if (m_fd < 0) return "the ledger is not open";
    LedgerLatest latest(kLinesKeptPerServer);
    if (std::string why = ForEachLedgerLine(m_path, [&latest](LedgerLine&& line) { latest.Add(std::move(line)); });
        !why.empty())
        return why;
    const std::string fresh = m_path + ".new";
    struct stat info {};
    const mode_t mode = ::fstat(m_fd, &info) == 0 ? (info.st_mode & 0777) : 0640;
    const int fd = ::open(fresh.c_str(), O_RDWR | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) return Why(fresh);
    // Written 64 KiB at a time: the kept lines are not copied whole.
    bool written = true;
    std::string text;
    for (const LedgerLine* line : latest.KeptInOrder()) {
        text += FormatLedgerLine(*line);
        if (text.size() >= 65536) {
            written = written && WriteAll(fd, text.data(), text.size());
            text.clear();
        }
    }
    written = written && WriteAll(fd, text.data(), text.size());
    // The group keeps its right to read it (status as a member of it).
    if (!written || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0 || ::rename(fresh.c_str(), m_path.c_str()) != 0) {
        const std::string why = Why(fresh);
        ::close(fd);
        ::unlink(fresh.c_str());
        return why;
    }
    SyncFolder(m_path);
    // The new file is the ledger from now on; the lock file stays the same.
    ::close(m_fd);
    m_fd = fd;
    m_torn = false;
    return {};
}

}  // namespace tessel::service
