// The support logfile: one line per network step, each with the time of
// day, in the fixed words of the event catalogue. CR LF line ends, one new
// file per run, and silent when the file cannot be opened.
//
// The service's logfile (tessel-cli serve, LogfileKind::Service) lives for
// months instead: each run appends to it, every line carries its date, a
// rotation's rename is followed by Reopen, and a failed write is told to a
// handler when it happens.
//
// Every line reaches the file when it is written, so a program that is
// killed (kill -9) loses nothing it logged; only while the receive
// loop works through datagrams that are already waiting (a batch) are the
// lines of all threads gathered and written in one piece at the batch's end
// and before any wait (BeginBatch / EndBatch), so a flood costs one write
// per batch instead of one per line.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

struct LogfileLocation {
    std::string folder;
    std::string fileName;
};

// Where the logfile goes: in Inkwell mode the installer's "Tessel Path"
// with its last three characters replaced by "log", file "Tessel.log";
// otherwise folder "Temp", file "IP.log" (which the constructor turns into
// "MERROW Tessel.log" in the current directory).
LogfileLocation ChooseLogfileLocation(bool inkwellMode, const std::optional<std::string>& tesselPath);

// Run: replaced at each start, time of day only. Service: appended to,
// each line with its date ("2026-12-08 13:04:05 - ...").
enum class LogfileKind { Run, Service };

// A logfile path given whole, for the headless front end's --logfile.
struct LogfilePath {
    std::string path;
    LogfileKind kind = LogfileKind::Run;
};

class CLogfile {
public:
    CLogfile(std::string folder, std::string fileName);
    explicit CLogfile(LogfilePath path);
    // A view of `whole` for one job of a plan run: each event line it writes
    // names the job's server after the time ("12:00:01 - [0A-1B-2C-01-02-03]
    // Sent BOOTP/DHCP reply ..."), so that the lines of jobs that overlap can
    // be told apart. It writes into the whole's file under the whole's lock;
    // the switch and the closing stay the whole's (Close and Release do
    // nothing here). The whole must outlive the view.
    CLogfile(CLogfile& whole, const std::string& server);
    ~CLogfile();
    CLogfile(const CLogfile&) = delete;
    CLogfile& operator=(const CLogfile&) = delete;

    void WriteEvent(int code, const std::string& value = {});
    void WriteTimestamp();
    void WriteNewLine();
    void SetEnabled(bool on);
    // The receive loop's batch: from BeginBatch until EndBatch the lines of
    // every thread are gathered (whole, up to 64 KiB at a time); EndBatch
    // writes them out and lines go to the file one by one again. The loop ends its batch
    // before each wait (a blocking receive, a pause, an assignment), so no
    // line waits longer than the handling of the datagrams already in hand.
    void BeginBatch();
    void EndBatch();
    // Writes the closing line and closes the file. Threads that still hold
    // the object may go on calling it; their lines are dropped.
    void Close();
    // Closes the file without the closing line: what was written stays, as
    // in a logfile the program leaves open when it ends.
    void Release();

    // Service: when the path no longer names the open file (a rotation
    // renamed it), opens the path anew for appending and writes there from
    // now on. Empty when done or nothing was to do, else why not: the lines
    // then go on to the file already open.
    std::string Reopen();
    // Service: `tell` is called when a write fails after writes that did
    // not (with the system's reason), and with an empty reason when a write
    // succeeds again after failures: once per run of failures, never per
    // line. It is called under the logfile's lock, from the writing thread.
    void OnWriteFailure(std::function<void(const std::string& reason)> tell);

    // The path the constructor tried to open.
    const std::string& Path() const { return m_path; }
    bool IsOpen() const { return !m_bFailed; }
    // Why the file could not be opened, or why what was written did not all
    // reach it (found when it was closed), in the system's words; empty
    // when nothing went wrong.
    std::string Failure() const;
    bool IsEnabled() const { return (m_whole ? m_whole->m_bEnabled : m_bEnabled).load() != 0; }

    // "C:\" + folder + "\" + file on the system drive, except the default
    // pair "Temp" / "IP.log", which means "MERROW Tessel.log" here.
    static std::string ResolvePath(const std::string& folder, const std::string& fileName);

private:
    void Open();
    enum class Gate { Always, WhileEnabled };
    void WriteLocked(std::string_view text, Gate gate = Gate::Always);
    // With m_writeLock held: the text to the file, or to the batch's lines
    // while a batch gathers them; WriteOut writes those.
    void Put(std::string_view text);
    void WriteOut();
    // One write to the file; the first failure keeps the system's reason.
    void WriteToFile(std::string_view text);
    bool Dated() const { return (m_whole ? m_whole->m_kind : m_kind) == LogfileKind::Service; }

    CLogfile* m_whole = nullptr;  // a job's view: the logfile it writes into
    std::string m_server;         // a job's view: "[SERIAL] " after the time
    bool m_bFailed = true;
    std::atomic<int> m_bEnabled{1};  // written under m_writeLock
    // Lines wait for EndBatch. Written under m_writeLock, and only by the
    // thread that batches, so it may look without the lock.
    std::atomic<bool> m_batch{false};
    std::string m_pending;  // the batch's lines, under m_writeLock
    std::FILE* m_file = nullptr;
    std::string m_path;
    int m_failure = 0;  // the errno of a failed open, write or close; -1: no reason told
    LogfileKind m_kind = LogfileKind::Run;
    bool m_writing = true;                                       // the last write reached the file; under m_writeLock
    std::function<void(const std::string&)> m_tellWriteFailure;  // under m_writeLock
    // Lines from the network thread and the dialog thread must not
    // interleave, so every write of a whole line holds this.
    std::mutex m_writeLock;
};

// Writes one event when there is a logfile: the engine's parts and the
// single steps of tessel-cli may run without one.
inline void LogEvent(CLogfile* log, int code, std::string value = {})
{
    if (log != nullptr) log->WriteEvent(code, std::move(value));
}

}  // namespace tessel
