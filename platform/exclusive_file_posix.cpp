#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tessel {

std::FILE* OpenExclusiveForWriting(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    // The lock comes first: truncating before it would empty a file that
    // another running copy still writes.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) ::close(fd);
    return file;
}

}  // namespace tessel
