// What the program shares with the maker's print-system installer: the
// switch it starts the program with, its registry key and the two values
// under it. Each name stands here once as text and once as the wide text
// the Win32 calls take; the checks below keep the two the same.
#pragma once

#include <cstddef>

namespace tessel {

// The switch of the installer's run (Inkwell mode): the whole parameter,
// after a leading "-" or "/".
inline constexpr const char* kInkwellSwitch = "ink";
inline constexpr const wchar_t* kInkwellSwitchW = L"ink";
// The installer's key; "Tessel Path" under the machine's root (read), and
// "NewServer" under the user's (written).
inline constexpr const char* kInkwellKey = "Software\\Merrow Communications\\Inkwell";
inline constexpr const wchar_t* kInkwellKeyW = L"Software\\Merrow Communications\\Inkwell";
inline constexpr const char* kTesselPathValue = "Tessel Path";
inline constexpr const wchar_t* kTesselPathValueW = L"Tessel Path";
inline constexpr const char* kNewServerValue = "NewServer";
inline constexpr const wchar_t* kNewServerValueW = L"NewServer";

constexpr bool SameName(const char* text, const wchar_t* wide)
{
    std::size_t i = 0;
    for (; text[i] != '\0'; ++i)
        if (static_cast<wchar_t>(text[i]) != wide[i]) return false;
    return wide[i] == L'\0';
}
static_assert(SameName(kInkwellSwitch, kInkwellSwitchW));
static_assert(SameName(kInkwellKey, kInkwellKeyW));
static_assert(SameName(kTesselPathValue, kTesselPathValueW));
static_assert(SameName(kNewServerValue, kNewServerValueW));

}  // namespace tessel
