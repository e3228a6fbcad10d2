#include "platform/exclusive_file.h"

#include <fcntl.h>

#include <cerrno>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessel {

std::FILE* OpenExclusiveForWriting(const std::string& path, WriteMode mode)
{
    const bool append = mode == WriteMode::Append;
    // Without waiting: a FIFO that nobody reads is refused (ENXIO) rather
    // than holding the program in open() where no stop can reach it. Its
    // writes wait as ever once it is open.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (append ? O_APPEND : 0), 0644);
    if (fd < 0) return nullptr;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // The lock comes first: truncating before it would empty a file that
    // another running copy still writes.
    // A device or a pipe (/dev/full, /dev/stdout) has nothing to empty: it
    // is written as it is, and its write errors are the writer's to tell.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (!append && ::ftruncate(fd, 0) != 0 && errno != EINVAL)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, append ? "ab" : "wb");
    if (file == nullptr) ::close(fd);
    return file;
}

bool PathNamesFile(const std::string& path, std::FILE* file)
{
    struct stat named {
    }, held{};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(fileno(file), &held) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
}

}  // namespace tessel
