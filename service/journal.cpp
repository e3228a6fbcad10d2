#include "service/journal.h"

#include <sys/stat.h>

#include <cinttypes>

namespace tessel::service {

bool StreamIsJournal(std::FILE* stream, const char* journalStream)
{
    if (journalStream == nullptr || stream == nullptr) return false;
    std::uintmax_t device = 0, inode = 0;
    if (std::sscanf(journalStream, "%" SCNuMAX ":%" SCNuMAX, &device, &inode) != 2) return false;
    struct stat info {};
    if (::fstat(fileno(stream), &info) != 0) return false;
    return static_cast<std::uintmax_t>(info.st_dev) == device && static_cast<std::uintmax_t>(info.st_ino) == inode;
}

std::string EventLog::Format(Priority priority, const std::string& text) const
{
    std::string prefix;
    if (m_prefixed) {
        prefix = "<";
        prefix += std::to_string(static_cast<int>(priority));
        prefix += '>';
    }
    std::string out;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        out += prefix + text.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\n";
        if (end == std::string::npos || end + 1 == text.size()) break;
        start = end + 1;
    }
    return out;
}

void EventLog::Tell(Priority priority, const std::string& text) const
{
    const std::string lines = Format(priority, text);
    // One call under the stream's lock: the event stays whole.
    std::fwrite(lines.data(), 1, lines.size(), m_out);
    std::fflush(m_out);
}

}  // namespace tessel::service
