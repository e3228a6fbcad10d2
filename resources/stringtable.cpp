#include "resources/stringtable.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "log/logfile.h"

namespace tessel {
namespace {

struct Entry {
    int id;
    const char* text;  // UTF-8
};

// Sorted by number. "\n" is a single line feed; the three blanks before a
// line end belong to the text.
constexpr std::array kStrings{
    Entry{IDS_PROGRAM_TITLE, kProgramTitle},
    Entry{IDS_IPADDR_INVALID,
          "Sorry, but %1 is an invalid IP address entry!   \n"
          "Please specify a value between 0 and 255 for this field.   "},
    Entry{IDS_IPADDR_MISSING,
          "There is a missing IP address entry!   \n"
          "Please specify a value between 0 and 255 for this field.   "},
    Entry{IDS_IPADDR_CAPTION, "Bad user input"},
};

static_assert(std::is_sorted(kStrings.begin(), kStrings.end(),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }),
              "the string table must stay sorted by number");

}  // namespace

QString LoadString(int id)
{
    const auto it = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                                     [](const Entry& e, int wanted) { return e.id < wanted; });
    if (it == kStrings.end() || it->id != id)
        return {};
    return QString::fromUtf8(it->text);
}

QString FormatString1(int id, const QString& arg)
{
    QString text = LoadString(id);
    text.replace(QStringLiteral("%1"), arg);
    return text;
}

}  // namespace tessel
