#include "log/logfile.h"

#include <cerrno>
#include <ctime>
#include <system_error>

#include "log/events.h"
#include "platform/exclusive_file.h"
#include "platform/paths.h"
#include "resources/texts.h"

namespace tessel {

namespace {

// "HH:MM:SS - " of now, or "YYYY-MM-DD HH:MM:SS - " when `dated`. The
// receive loop writes several lines for every datagram; the local time is
// worked out once a second per thread and kind, not once a line (it takes
// the C library's time-zone lock).
const char* StampText(bool dated = false)
{
    thread_local std::time_t shown[2] = {-1, -1};
    thread_local char text[2][32] = {};
    const std::time_t now = std::time(nullptr);
    if (now != shown[dated]) {
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        std::strftime(text[dated], sizeof text[dated], dated ? "%Y-%m-%d %H:%M:%S - " : "%H:%M:%S - ", &local);
        shown[dated] = now;
    }
    return text[dated];
}

std::string Timestamp(bool dated = false)
{
    return StampText(dated);
}

std::string Reason(int error)
{
    return error > 0 ? std::generic_category().message(error) : "the system gave no reason";
}

// A value can come from a server (an FTP file name): keep it on one line so
// that it cannot forge further log lines.
void AppendOnOneLine(std::string& line, const std::string& value)
{
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        line += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
}

}  // namespace

LogfileLocation ChooseLogfileLocation(bool inkwellMode, const std::optional<std::string>& tesselPath)
{
    if (inkwellMode && tesselPath && !tesselPath->empty()) {
        const std::string& path = *tesselPath;
        const std::string stem = path.size() < 3 ? std::string{} : path.substr(0, path.size() - 3);
        return {stem + "log", "Tessel.log"};
    }
    return {"Temp", "IP.log"};
}

std::string CLogfile::ResolvePath(const std::string& folder, const std::string& fileName)
{
    if (folder == "Temp" && fileName == "IP.log") return std::string(TextOf(IDS_PROGRAM_TITLE)) + ".log";
    return SystemDriveRoot() + NativeSeparators(folder + "\\" + fileName);
}

CLogfile::CLogfile(std::string folder, std::string fileName) : m_path(ResolvePath(folder, fileName))
{
    Open();
}

CLogfile::CLogfile(LogfilePath path) : m_path(std::move(path.path)), m_kind(path.kind)
{
    Open();
}

CLogfile::CLogfile(CLogfile& whole, const std::string& server)
    : m_whole(&whole), m_server("[" + server + "] "), m_bFailed(whole.m_bFailed), m_path(whole.m_path)
{}

// What a batch gathers before it is written anyway: a batch of the receive
// loop (a few dozen datagrams of four lines, and what other threads write
// meanwhile) fits many times over.
constexpr std::size_t kBatchLimit = 64 * 1024;

void CLogfile::Open()
{
    errno = 0;
    m_file = OpenExclusiveForWriting(m_path, m_kind == LogfileKind::Service ? WriteMode::Append : WriteMode::Replace);
    m_bFailed = (m_file == nullptr);
    if (m_bFailed) {
        m_failure = errno != 0 ? errno : -1;
        return;
    }
    // The object gathers a batch itself; the stream hands each write on.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    WriteLocked(Timestamp(Dated()) + "Initialized " + TextOf(IDS_PROGRAM_TITLE) + "'s logfile!\r\n\r\n");
}

CLogfile::~CLogfile()
{
    Close();
}

void CLogfile::Close()
{
    if (m_bFailed || m_whole) return;
    std::lock_guard<std::mutex> guard(m_writeLock);
    if (!m_file) return;
    WriteOut();
    // The footer is written even while the user has switched writing off.
    const std::string footer =
        "\r\n\r\n" + Timestamp(Dated()) + "Closed " + TextOf(IDS_PROGRAM_TITLE) + "'s logfile!\r\n";
    WriteToFile(footer);
    errno = 0;
    if (std::fclose(m_file) != 0 && m_failure == 0) m_failure = errno != 0 ? errno : -1;
    m_file = nullptr;
}

std::string CLogfile::Failure() const
{
    if (m_whole) return m_whole->Failure();
    if (m_failure == 0) return {};
    return Reason(m_failure);
}

void CLogfile::Release()
{
    if (m_bFailed || m_whole) return;
    std::lock_guard<std::mutex> guard(m_writeLock);
    if (!m_file) return;
    WriteOut();
    std::fclose(m_file);
    m_file = nullptr;
}

std::string CLogfile::Reopen()
{
    if (m_whole) return m_whole->Reopen();
    if (m_bFailed || m_kind != LogfileKind::Service) return {};
    std::lock_guard<std::mutex> guard(m_writeLock);
    // Still the same file (no rotation since): opening it again would only
    // meet the lock this object holds.
    if (!m_file || PathNamesFile(m_path, m_file)) return {};
    WriteOut();
    errno = 0;
    std::FILE* file = OpenExclusiveForWriting(m_path, WriteMode::Append);
    if (file == nullptr) return Reason(errno != 0 ? errno : -1);
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::fclose(m_file);
    m_file = file;
    return {};
}

void CLogfile::OnWriteFailure(std::function<void(const std::string& reason)> tell)
{
    std::lock_guard<std::mutex> guard(m_writeLock);
    m_tellWriteFailure = std::move(tell);
    // Failing already (the opening line did not reach the file): told now.
    if (!m_writing && m_tellWriteFailure) m_tellWriteFailure(Reason(m_failure));
}

void CLogfile::WriteLocked(std::string_view text, Gate gate)
{
    std::lock_guard<std::mutex> guard(m_writeLock);
    // The switch is read under the same lock as the switching line is
    // written, so no event line lands after "turned off".
    if (gate == Gate::WhileEnabled && m_bEnabled.load() == 0) return;
    Put(text);
}

void CLogfile::Put(std::string_view text)
{
    // After Close() a thread that is still finishing writes nothing.
    if (!m_file) return;
    if (!m_batch.load()) {
        WriteToFile(text);
        return;
    }
    m_pending.append(text);
    if (m_pending.size() >= kBatchLimit) WriteOut();
}

void CLogfile::WriteOut()
{
    if (m_pending.empty() || !m_file) return;
    WriteToFile(m_pending);
    m_pending.clear();
}

// The stream is unbuffered, so a write that fails fails here, with the
// system's reason (a full disk, /dev/full); the first one is kept for the
// line that tells of it at the end.
void CLogfile::WriteToFile(std::string_view text)
{
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), m_file) == text.size();
    const int error = written ? 0 : (errno != 0 ? errno : -1);
    if (!written && m_failure == 0) m_failure = error;
    // Told at the first failure of a run of them, and when it ends.
    if (written == m_writing) return;
    m_writing = written;
    if (m_tellWriteFailure) m_tellWriteFailure(written ? std::string() : Reason(error));
}

void CLogfile::BeginBatch()
{
    if (m_whole) return m_whole->BeginBatch();
    if (m_bFailed) return;
    std::lock_guard<std::mutex> guard(m_writeLock);
    m_batch.store(true);
}

void CLogfile::EndBatch()
{
    if (m_whole) return m_whole->EndBatch();
    if (m_bFailed || !m_batch.load()) return;
    std::lock_guard<std::mutex> guard(m_writeLock);
    m_batch.store(false);
    WriteOut();
}

void CLogfile::WriteTimestamp()
{
    if (m_whole) return m_whole->WriteTimestamp();
    if (m_bFailed) return;
    WriteLocked(StampText(Dated()), Gate::WhileEnabled);
}

void CLogfile::WriteEvent(int code, const std::string& value)
{
    if (m_bFailed || !IsEnabled()) return;  // spares the formatting; decided under the lock
    // Made in the thread's own buffer: the receive loop writes several lines
    // a datagram, and none of them needs memory of its own.
    thread_local std::string line;
    line.assign(StampText(Dated()));
    line += m_server;
    line += EventText(code);
    if (EventTakesValue(code)) AppendOnOneLine(line, value);
    line += ".\r\n";
    (m_whole ? *m_whole : *this).WriteLocked(line, Gate::WhileEnabled);
}

void CLogfile::WriteNewLine()
{
    if (m_whole) return m_whole->WriteNewLine();
    if (m_bFailed || !IsEnabled()) return;  // as WriteEvent: decided under the lock
    WriteLocked("\r\n", Gate::WhileEnabled);
}

void CLogfile::SetEnabled(bool on)
{
    if (m_whole) return m_whole->SetEnabled(on);
    if (m_bFailed) return;
    const std::string stamp = Timestamp(Dated());
    const std::string line = on ? stamp + "Logfile writing turned on  by user.\r\n"
                                : "\r\n" + stamp + "Logfile writing turned off by user.\r\n";
    std::lock_guard<std::mutex> guard(m_writeLock);
    m_bEnabled.store(on ? 1 : 0);
    Put(line);
}

}  // namespace tessel
