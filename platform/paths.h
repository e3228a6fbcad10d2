// Where the system drive's root is, and how a path written with Windows
// separators is written on this platform.
#pragma once

#include <string>

namespace tessel {

// "C:\" on Windows, "/" on POSIX.
std::string SystemDriveRoot();

// Turns backslashes into this platform's separator (a no-op on Windows).
std::string NativeSeparators(std::string path);

}  // namespace tessel
