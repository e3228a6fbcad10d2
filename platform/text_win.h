// Text at the edge of the Windows API: the program keeps its texts as UTF-8
// (as on every platform); the wide-character functions get them converted.
#pragma once

#include <string>

namespace tessel {

// UTF-8 to UTF-16; an empty text for text that is not UTF-8.
std::wstring Widened(const std::string& text);

}  // namespace tessel
