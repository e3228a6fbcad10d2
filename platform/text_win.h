// Text at the edge of the Windows API: the program's own texts are UTF-8,
// the command line's arguments come in the system's ANSI code page; the
// wide-character functions get either converted.
#pragma once

#include <string>

namespace tessel {

// UTF-8 (or, where the text is not UTF-8, the ANSI code page) to UTF-16;
// empty when neither fits.
std::wstring Widened(const std::string& text);

}  // namespace tessel
