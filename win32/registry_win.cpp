#include "win32/registry_win.h"

#include <windows.h>

#include "win32/dialog_template_win.h"

namespace tessel {
namespace {

constexpr DWORD kValueBufferBytes = 256;

}  // namespace

std::optional<std::string> ReadTesselPath()
{
    HKEY key = nullptr;
    // The installer is a 32-bit program: its HKEY_LOCAL_MACHINE\Software
    // is the WOW6432Node view, which a 64-bit program reads only on request.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInkwellKeyW, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t value[kValueBufferBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kValueBufferBytes;
    DWORD type = 0;
    const LONG status = RegQueryValueExW(key, kTesselPathValueW, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    value[size / sizeof(wchar_t)] = L'\0';
    return Narrow(value);
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
