// "Tessel Path" read from the Wine prefix's registry (32-bit view), at the
// lengths around the 256-byte buffer the Linux window reads it into.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "win32/dialog_template_win.h"
#include "win32/registry_win.h"

namespace tessel {
namespace {

constexpr REGSAM kView = KEY_WOW64_32KEY;

TEST(Win32Registry, TesselPathUpTo255CharactersIsReadLongerIsRefused)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInkwellKeyW, 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const struct {
        std::size_t length;
        bool read;
    } cases[] = {{1, true}, {127, true}, {128, true}, {255, true}, {256, false}, {600, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::wstring path = L"C:\\" + std::wstring(c.length - 1, L'p');
        path.resize(c.length);
        ASSERT_EQ(RegSetValueExW(key, kTesselPathValueW, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                 static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        const auto read = ReadTesselPath();
        ASSERT_EQ(read.has_value(), c.read);
        if (c.read) {
            EXPECT_EQ(*read, Narrow(path.c_str()));
        }
    }
    // Stored without its NUL, the text is still read whole and no further.
    const std::wstring bare = L"C:\\Inkwell";
    RegSetValueExW(key, kTesselPathValueW, 0, REG_SZ, reinterpret_cast<const BYTE*>(bare.c_str()),
                   static_cast<DWORD>(bare.size() * sizeof(wchar_t)));
    EXPECT_EQ(ReadTesselPath(), std::optional<std::string>("C:\\Inkwell"));
    RegDeleteValueW(key, kTesselPathValueW);
    EXPECT_EQ(ReadTesselPath(), std::nullopt);
    RegCloseKey(key);
}

}  // namespace
}  // namespace tessel
