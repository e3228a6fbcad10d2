// Lines a service can rely on: under systemd (stderr is the journal's
// stream, as JOURNAL_STREAM says) each line starts with its syslog
// priority, "<3>" to "<7>", which the journal stores as the line's
// priority; on a terminal the lines are plain. Each line is written in one
// piece, so lines from several threads never mix.
#pragma once

#include <cstdio>
#include <string>

namespace tessel::service {

enum Priority { kErr = 3, kWarning = 4, kNotice = 5, kInfo = 6, kDebug = 7 };

// True when JOURNAL_STREAM names this stream's device and inode ("DEV:INO"):
// a stderr that a child redirected elsewhere is not the journal any more.
bool StreamIsJournal(std::FILE* stream, const char* journalStream);

class EventLog {
public:
    // `prefixed`: write the priority prefixes (StreamIsJournal of `out`).
    EventLog(std::FILE* out, bool prefixed) : m_out(out), m_prefixed(prefixed) {}

    // One event; a text of several lines gives each line the priority.
    void Tell(Priority priority, const std::string& text) const;
    // The line as it is written, "\n" included.
    std::string Format(Priority priority, const std::string& text) const;

private:
    std::FILE* m_out;
    bool m_prefixed;
};

}  // namespace tessel::service
