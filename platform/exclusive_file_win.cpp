#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/text_win.h"

namespace tessel {

std::FILE* OpenExclusiveForWriting(const std::string& path)
{
    // Sharing for reading only: a second copy of the program cannot open the
    // file for writing, so it can neither write into it nor empty it, while
    // a support engineer can still read it. Emptying comes after the open
    // that holds the file, never before.
    const HANDLE handle = ::CreateFileW(Widened(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (!::SetEndOfFile(handle)) {
        ::CloseHandle(handle);
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "wb");
    if (file == nullptr) ::_close(fd);  // closes the handle as well
    return file;
}

}  // namespace tessel
