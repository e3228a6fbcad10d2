#include "win32/registry_win.h"

#include <windows.h>

#include <algorithm>

#include "win32/dialog_template_win.h"

namespace tessel {
namespace {

// The installer's folder fits a 256-byte buffer with its NUL, as the Linux
// window reads it: up to 255 bytes of UTF-8 (255 characters of a plain
// path). The value is read whole first, so that a longer one is refused,
// never cut.
constexpr std::size_t kValueBufferBytes = 256;

}  // namespace

std::optional<std::string> ReadTesselPath()
{
    HKEY key = nullptr;
    // The installer is a 32-bit program: its HKEY_LOCAL_MACHINE\Software
    // is the WOW6432Node view, which a 64-bit program reads only on request.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInkwellKeyW, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, kTesselPathValueW, nullptr, &type, nullptr, &size);
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(key, kTesselPathValueW, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    // The text ends at its first NUL, stored or not.
    value.resize(std::min<std::size_t>(size / sizeof(wchar_t), value.size()));
    if (const auto end = value.find(L'\0'); end != std::wstring::npos) value.resize(end);
    std::string path = Narrow(value.c_str());
    if (path.size() + 1 > kValueBufferBytes) return std::nullopt;
    return path;
}

bool WriteNewServer(const std::string& address)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kInkwellKeyW, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const std::wstring text = Widen(address.c_str());
    const LONG status = RegSetValueExW(key, kNewServerValueW, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace tessel
