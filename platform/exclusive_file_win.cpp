#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/text_win.h"

namespace tessel {

std::FILE* OpenExclusiveForWriting(const std::string& path, WriteMode mode)
{
    const bool append = mode == WriteMode::Append;
    // Sharing for reading only: a second copy of the program cannot open the
    // file for writing, so it can neither write into it nor empty it, while
    // a support engineer can still read it. Emptying comes after the open
    // that holds the file, never before.
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
    const DWORD access = append ? (FILE_APPEND_DATA | SYNCHRONIZE) : GENERIC_WRITE;
    const HANDLE handle = ::CreateFileW(Widened(path).c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (!append && !::SetEndOfFile(handle)) {
        ::CloseHandle(handle);
        return nullptr;
    }
    const int fd =
        ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY | (append ? _O_APPEND : 0));
    if (fd < 0) {
        ::CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, append ? "ab" : "wb");
    if (file == nullptr) ::_close(fd);  // closes the handle as well
    return file;
}

bool PathNamesFile(const std::string& path, std::FILE* file)
{
    const HANDLE named = ::CreateFileW(Widened(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const HANDLE held = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    const bool same = ::GetFileInformationByHandle(named, &a) && ::GetFileInformationByHandle(held, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    ::CloseHandle(named);
    return same;
}

}  // namespace tessel
