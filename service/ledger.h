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
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// The lines of a ledger's text: only lines ended by "\n" count (a torn last
// line is ignored), and any line that does not parse is skipped.
std::vector<LedgerLine> ParseLedger(std::string_view text);

// Reads the whole ledger; a missing file is an empty ledger. `error` is set
// when the file is there and cannot be read.
std::vector<LedgerLine> ReadLedger(const std::string& path, std::string& error);

class Ledger {
public:
    Ledger() = default;
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // Opens (creating it 0640) for appending. A file whose last line was
    // torn first gets the "\n" that ends the fragment, so the next line
    // starts whole. Empty on success, else why not.
    std::string Open(const std::string& path);

    // Appends the line in one write and syncs it to the disk before
    // returning. False when the write or the sync failed.
    bool Append(const LedgerLine& line);

    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    bool m_torn = false;  // the last write may have left part of a line
    std::string m_path;
};

}  // namespace tessel::service
