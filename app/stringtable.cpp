#include "app/stringtable.h"

namespace tessel {

QString LoadString(int id)
{
    const char* text = TextOf(id);
    return *text ? QString::fromUtf8(text) : QString();
}

QString FormatString1(int id, const QString& arg)
{
    return QString::fromStdString(FormatText(id, arg.toStdString()));
}

}  // namespace tessel
