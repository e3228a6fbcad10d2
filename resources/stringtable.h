// The string table: every text that a window or message box shows, kept
// once and looked up by its fixed number, as the windows' resources are.
// Texts are byte for byte what the user sees (line feeds, trailing blanks).
#pragma once

#include <QString>

namespace tessel {

// Numbers of the texts, named for the code that shows them.
enum StringId : int {
    IDS_PROGRAM_TITLE = 102,
    IDS_IPADDR_INVALID = 32772,   // "%1" is the offending value
    IDS_IPADDR_MISSING = 32773,
    IDS_IPADDR_CAPTION = 32774,
};

// The text with that number; empty when the table has none, as a failed
// resource lookup gives.
QString LoadString(int id);

// The text with that number, every "%1" replaced by `arg`.
QString FormatString1(int id, const QString& arg);

}  // namespace tessel
