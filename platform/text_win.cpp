#include "platform/text_win.h"

#include <windows.h>

namespace tessel {

std::wstring Widened(const std::string& text)
{
    if (text.empty()) return {};
    // UTF-8 first; text that is not UTF-8 came from the system in its ANSI
    // code page (the command line's arguments do).
    for (const UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int size = ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (size <= 0) continue;
        std::wstring wide(static_cast<std::size_t>(size), L'\0');
        ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(), size);
        return wide;
    }
    return {};
}

}  // namespace tessel
