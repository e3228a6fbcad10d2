#include "app/browser.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace tessel {
namespace {

// The desktop's answer comes at once; a helper that hangs must not hold
// the window.
constexpr int kHandlerQueryMs = 3000;

}  // namespace

std::string DefaultWebHandler()
{
    QProcess query;
    query.setProcessChannelMode(QProcess::SeparateChannels);
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/http")});
    if (!query.waitForStarted(kHandlerQueryMs)) return {};
    if (!query.waitForFinished(kHandlerQueryMs)) {
        query.kill();
        query.waitForFinished(kHandlerQueryMs);
        return {};
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) return {};
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed().toStdString();
}

bool OpenInBrowser(const std::string& url)
{
    if (DefaultWebHandler().empty()) return false;
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

UrlOpener& CurrentUrlOpener()
{
    static UrlOpener opener;
    return opener;
}

void SetUrlOpener(UrlOpener opener)
{
    CurrentUrlOpener() = std::move(opener);
}

}  // namespace tessel
