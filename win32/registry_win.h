// The two values the program shares with the maker's print-system
// installer, on the Win32 registry: "Tessel Path" under HKEY_LOCAL_MACHINE,
// read from the 32-bit view where that installer writes it, and
// "NewServer" under HKEY_CURRENT_USER.
#pragma once

#include <optional>
#include <string>

#include "resources/installer_names.h"

namespace tessel {

// The installer's folder; unset when the key or value is missing or does
// not fit a 256-byte buffer as UTF-8 with its NUL (255 characters of a
// plain path), as the Linux window reads it.
std::optional<std::string> ReadTesselPath();
// False when the value could not be written.
bool WriteNewServer(const std::string& address);

}  // namespace tessel
