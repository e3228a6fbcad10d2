#include "platform/exclusive_file.h"

#include <fcntl.h>

#include <cerrno>
#include <sys/file.h>
#include <unistd.h>

namespace tessel {

std::FILE* OpenExclusiveForWriting(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    // The lock comes first: truncating before it would empty a file that
    // another running copy still writes.
    // A device or a pipe (/dev/full, /dev/stdout) has nothing to empty: it
    // is written as it is, and its write errors are the writer's to tell.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (::ftruncate(fd, 0) != 0 && errno != EINVAL)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) ::close(fd);
    return file;
}

}  // namespace tessel
