#include "app/helpwindow.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/images.h"
#include "resources/resource.h"
#include "app/stringtable.h"

namespace tessel {
namespace {

QPointer<HelpViewer> g_helpWindow;

QString TopicPath(int helpContext)
{
    return QStringLiteral(":/tessel/help/topic%1.html").arg(helpContext);
}

}  // namespace

HelpViewer::HelpViewer(QWidget* parent) : QDialog(parent), m_pBrowser(new QTextBrowser(this))
{
    setWindowTitle(QStringLiteral("%1 Help").arg(LoadString(IDS_PROGRAM_TITLE)));
    setWindowIcon(LoadIcon(IDR_MAINFRAME));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    QFile css(QStringLiteral(":/tessel/help/help.css"));
    if (css.open(QIODevice::ReadOnly)) m_pBrowser->document()->setDefaultStyleSheet(QString::fromUtf8(css.readAll()));
    m_pBrowser->setOpenLinks(true);
    m_pBrowser->setOpenExternalLinks(false);

    auto* contents = new QPushButton(tr("&Contents"), this);
    auto* back = new QPushButton(tr("&Back"), this);
    auto* close = new QPushButton(tr("Close"), this);
    back->setEnabled(false);
    connect(contents, &QPushButton::clicked, this, [this] { m_pBrowser->setSource(ContentsUrl()); });
    connect(back, &QPushButton::clicked, m_pBrowser, &QTextBrowser::backward);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(contents);
    buttons->addWidget(back);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pBrowser, 1);
    layout->addLayout(buttons);
    resize(560, 480);
}

QUrl HelpViewer::TopicUrl(int helpContext)
{
    const QString path = TopicPath(helpContext);
    return QFile::exists(path) ? QUrl(QStringLiteral("qrc") + path) : ContentsUrl();
}

QUrl HelpViewer::ContentsUrl()
{
    return QUrl(QStringLiteral("qrc:/tessel/help/contents.html"));
}

void HelpViewer::ShowTopic(int helpContext)
{
    m_pBrowser->setSource(TopicUrl(helpContext));
    show();
    raise();
    activateWindow();
}

void ShowHelp(int helpContext)
{
    // The main window and the message boxes are modal, and a modal window
    // blocks every window but its own children. The help window therefore
    // belongs to the modal window that is up, so that it can be read and
    // scrolled while a box waits for its answer; it goes with that window.
    QWidget* owner = QApplication::activeModalWidget();
    if (g_helpWindow && g_helpWindow->parentWidget() != owner) delete g_helpWindow.data();
    if (!g_helpWindow) g_helpWindow = new HelpViewer(owner);
    g_helpWindow->ShowTopic(helpContext);
}

HelpViewer* HelpWindow()
{
    return g_helpWindow.data();
}

}  // namespace tessel
