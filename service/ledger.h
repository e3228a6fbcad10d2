// The ledger: one line for every job outcome of serve, appended and synced
// line by line, so that a power cut or kill -9 leaves no lost line and no
// torn one among the whole ones. Lines are tab-separated:
//
//   TIME  SERIAL  ADDRESS  RESULT  STAGE  WHY  STRIKES  NEXT
//
// TIME in UTC (ISO 8601 with milliseconds); RESULT a few words ("stored",
// "not verified", "held back", ...); STAGE the highest stage reached (-1 to
// 5); WHY a sentence; STRIKES the server's back-off strikes after this
// outcome; NEXT the UTC time before which it is not answered again, or "-".
//
// It lives for months: it is read as a stream (memory does not grow with
// the file), compacted by an atomic rewrite once it grows past a size
// (each server's latest lines kept, as a DHCP server rewrites its lease
// file), held by one serve at a time (a lock file beside it), and opened
// anew on request once a rotation renamed it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessel::service {

// Where serve keeps it as a service: systemd's StateDirectory when it
// names one ($STATE_DIRECTORY), else /var/lib/tessel.
std::string DefaultLedgerPath();

struct LedgerLine {
    std::int64_t timeMs = 0;  // UTC milliseconds since 1970
    std::string serial;
    std::string address;
    std::string result;
    int stage = -1;
    std::string why;
    int strikes = 0;
    std::int64_t nextMs = 0;  // 0: none
};

// UTC milliseconds as "2026-12-08T13:04:05.123Z", and back.
std::string UtcText(std::int64_t ms);
std::optional<std::int64_t> ParseUtcText(std::string_view text);
// Now, in UTC milliseconds.
std::int64_t UtcNowMs();

// The line with its "\n". Tabs and line breaks inside a field (none of ours
// has any) become spaces, so a field never splits a line.
std::string FormatLedgerLine(const LedgerLine& line);
// A line without its "\n"; none when it is not a whole ledger line.
std::optional<LedgerLine> ParseLedgerLine(std::string_view text);

// True when the line's outcome left the server holding the address it
// names: stored (also when the stop came after the store), or already set.
bool LineHolds(const LedgerLine& line);

// Splits a ledger's bytes, fed in pieces of any size, into its lines: only
// lines ended by "\n" count (a torn last line is never handed on), a line
// that does not parse is skipped, and so is one longer than any line serve
// writes, without keeping more of it than that.
class LedgerSplitter {
public:
    void Feed(std::string_view bytes, const std::function<void(LedgerLine&&)>& each);

private:
    std::string m_partial;
    bool m_skipping = false;  // inside a line too long to be ours
};

// The lines of a ledger's text (LedgerSplitter over the whole).
std::vector<LedgerLine> ParseLedger(std::string_view text);

// Reads the ledger at `path` as a stream, handing `each` its lines in
// order. Only a regular file is read: a device, a FIFO or a folder is
// refused before any read, so neither /dev/zero nor a FIFO holds the
// caller. Empty when read, else why not. A missing file reads as no lines;
// `missing` (when given) says so.
std::string ForEachLedgerLine(const std::string& path, const std::function<void(LedgerLine&&)>& each,
                              bool* missing = nullptr);

// Each server's latest lines, servers in the order of their first line:
// the `keep` latest, and its latest line that holds (LineHolds) even when
// older. Memory grows with the servers, never with the lines.
class LedgerLatest {
public:
    explicit LedgerLatest(std::size_t keep = 1) : m_keep(keep < 1 ? 1 : keep) {}

    void Add(LedgerLine&& line);

    struct Server {
        std::string serial;
        std::vector<std::pair<std::uint64_t, LedgerLine>> lines;   // (place in the ledger, line), oldest first
        std::optional<std::pair<std::uint64_t, LedgerLine>> held;  // its latest line that holds
    };
    const std::vector<Server>& Servers() const { return m_servers; }
    // The server's last line; null when it has none.
    const LedgerLine* Last(const std::string& serial) const;
    // Its latest line that holds; null when none.
    const LedgerLine* Held(const std::string& serial) const;
    // The kept lines of all servers in their order in the ledger.
    std::vector<const LedgerLine*> KeptInOrder() const;

private:
    const Server* Find(const std::string& serial) const;

    std::size_t m_keep;
    std::uint64_t m_count = 0;
    std::vector<Server> m_servers;
    std::unordered_map<std::string, std::size_t> m_index;
};

// When a ledger is compacted: past this size, and past twice what its last
// compaction left (so a ledger of many servers is not rewritten at every line).
inline constexpr std::int64_t kCompactLedgerBytes = 8 * 1024 * 1024;
// The latest lines of each server a compaction keeps.
inline constexpr std::size_t kLinesKeptPerServer = 4;

class Ledger {
public:
    Ledger() = default;
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // Takes the lock of the ledger at `path` ("PATH.lock" beside it, made if
    // missing and never removed), held until the object goes. InUse: another
    // process holds it (`why` names its process when it wrote it).
    enum class Lock { Held, InUse, Failed };
    Lock TakeLock(const std::string& path, std::string& why);

    // Opens (creating it 0640) for appending; only a regular file. A file
    // whose last line was torn first gets the "\n" that ends the fragment,
    // so the next line starts whole. A file past its size is compacted
    // first (told through `OnCompacted`). Empty on success, else why not.
    std::string Open(const std::string& path);

    // When the path no longer names the open file (renamed by a rotation,
    // or removed), opens it anew; new lines go there. Empty when done or
    // nothing was to do, else why not (the old file is then kept).
    std::string Reopen();

    // Appends the line in one write and syncs it to the disk before
    // returning. False when the write or the sync failed. Past its size the
    // ledger is then compacted.
    bool Append(const LedgerLine& line);

    // Rewrites the ledger with each server's latest lines (LedgerLatest,
    // kLinesKeptPerServer), atomically: a new file beside it, synced,
    // renamed over it in one step, the folder synced, so a reader finds the
    // old ledger or the new one, never part of either. Empty when done,
    // else why not (the ledger is then as it was, and appending goes on).
    std::string Compact();

    // Told after each compaction: bytes before and after, or why it failed.
    struct Compaction {
        std::int64_t before = 0, after = 0;
        std::string failure;
    };
    void OnCompacted(std::function<void(const Compaction&)> tell) { m_tellCompacted = std::move(tell); }
    // The size past which the next compaction comes (tests set it lower).
    void CompactPast(std::int64_t bytes) { m_compactPast = m_compactAt = bytes; }

    const std::string& Path() const { return m_path; }

private:
    void CompactWhenLarge();

    int m_fd = -1;
    int m_lockFd = -1;
    bool m_torn = false;  // the last write may have left part of a line
    std::string m_path;
    std::int64_t m_compactPast = kCompactLedgerBytes;
    std::int64_t m_compactAt = kCompactLedgerBytes;
    std::function<void(const Compaction&)> m_tellCompacted;
};

}  // namespace tessel::service
