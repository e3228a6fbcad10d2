// The text table as the windows use it: the numbered texts of
// resources/texts.h as QString.
#pragma once

#include <QString>

#include "resources/texts.h"

namespace tessel {

// The text with that number; empty when the table has none, as a failed
// resource lookup gives.
QString LoadString(int id);

// The text with that number, every "%1" replaced by `arg`.
QString FormatString1(int id, const QString& arg);

}  // namespace tessel
