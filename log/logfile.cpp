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

// "HH:MM:SS - " of now. The receive loop writes several lines for every
// datagram; the local time is worked out once a second per thread, not
// once a line (it takes the C library's time-zone lock).
const char* StampText()
{
    thread_local std::time_t shown = -1;
    thread_local char text[16] = {};
    const std::time_t now = std::time(nullptr);
    if (now != shown) {
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        std::strftime(text, sizeof text, "%H:%M:%S - ", &local);
        shown = now;
    }
    return text;
}

std::string Timestamp()
{
    return StampText();
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

CLogfile::CLogfile(LogfilePath path) : m_path(std::move(path.path))
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
    m_file = OpenExclusiveForWriting(m_path);
    m_bFailed = (m_file == nullptr);
    if (m_bFailed) {
        m_failure = errno != 0 ? errno : -1;
        return;
    }
    // The object gathers a batch itself; the stream hands each write on.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    WriteLocked(Timestamp() + "Initialized " + TextOf(IDS_PROGRAM_TITLE) + "'s logfile!\r\n\r\n");
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
    const std::string footer = "\r\n\r\n" + Timestamp() + "Closed " + TextOf(IDS_PROGRAM_TITLE) + "'s logfile!\r\n";
    Emit(footer);
    // A full disk or /dev/full: the write that failed kept the system's
    // reason (the stream is unbuffered); a failing close is told too.
    const bool lost = std::ferror(m_file) != 0;
    errno = 0;
    if (std::fclose(m_file) != 0 || lost) m_failure = m_writeFailure != 0 ? m_writeFailure : errno != 0 ? errno : -1;
    m_file = nullptr;
}

std::string CLogfile::Failure() const
{
    if (m_whole) return m_whole->Failure();
    if (m_failure == 0) return {};
    return m_failure > 0 ? std::generic_category().message(m_failure) : "the system gave no reason";
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
        Emit(text);
        return;
    }
    m_pending.append(text);
    if (m_pending.size() >= kBatchLimit) WriteOut();
}

void CLogfile::WriteOut()
{
    if (m_pending.empty() || !m_file) return;
    Emit(m_pending);
    m_pending.clear();
}

void CLogfile::Emit(std::string_view text)
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size() && m_writeFailure == 0)
        m_writeFailure = errno != 0 ? errno : -1;
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
    WriteLocked(StampText(), Gate::WhileEnabled);
}

void CLogfile::WriteEvent(int code, const std::string& value)
{
    if (m_bFailed || !IsEnabled()) return;  // spares the formatting; decided under the lock
    // Made in the thread's own buffer: the receive loop writes several lines
    // a datagram, and none of them needs memory of its own.
    thread_local std::string line;
    line.assign(StampText());
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
    const std::string stamp = Timestamp();
    const std::string line = on ? stamp + "Logfile writing turned on  by user.\r\n"
                                : "\r\n" + stamp + "Logfile writing turned off by user.\r\n";
    std::lock_guard<std::mutex> guard(m_writeLock);
    m_bEnabled.store(on ? 1 : 0);
    Put(line);
}

}  // namespace tessel
