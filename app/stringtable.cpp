#include "app/stringtable.h"

namespace tessel {

QString LoadString(int id)
{
    const char* text = TextOf(id);
    return *text ? QString::fromUtf8(text) : QString();
}

QString FormatString1(int id, const QString& arg)
{
    QString text = LoadString(id);
    text.replace(QStringLiteral("%1"), arg);
    return text;
}

}  // namespace tessel
