#include "workflow/progress_windows.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

#include "resources/dialogitems.h"
#include "resources/stringtable.h"
#include "resources/texts.h"

namespace tessel {
namespace {

using K = ControlKind;
namespace s = style;

constexpr int kProgressFont = 8;
constexpr std::uint32_t kNoticeStyle = dialogstyle::NoCaption | dialogstyle::Centered;

constexpr ControlTemplate kValidatingControls[] = {
    {IDC_STATIC, K::Text,
     "                 Validating...\n\n (Checking that the IP address\n  is available and not used by\n"
     "  any host on the network.)",
     12, 10, 140, 50, s::NoPrefix, 0, nullptr},
    {IDC_STATIC, K::Text, "ICMP", 12, 68, 40, 9, s::Disabled, 0, nullptr},
};

// The stage text is as high as the longest one (five lines); the labels
// under the bar mark its two ends.
constexpr ControlTemplate kStageControls[] = {
    {IDC_STATIC, K::Text, "SETTING IP ADDRESS", 10, 8, 145, 9, s::Center | s::NoPrefix, 0, nullptr},
    {IDC_STAGE_TEXT, K::Text, "            Setting IP-address...", 10, 24, 145, 48, s::NoPrefix, 0, nullptr},
    {IDC_STAGE_PROGRESS, K::Custom, "", 10, 78, 145, 11, 0, 0, kProgressClass},
    {IDC_STATIC, K::Text, "0 s", 10, 92, 30, 9, s::NoPrefix, 0, nullptr},
    {IDC_STATIC, K::Text, "10-40 s", 125, 92, 30, 9, s::NoPrefix, 0, nullptr},
    {IDC_STATIC, K::Text, "BOOTP, DHCP", 10, 110, 60, 9, s::Disabled | s::NoPrefix, 0, nullptr},
};

constexpr ControlTemplate kShutdownControls[] = {
    {IDC_STATIC, K::Text, "Please wait while the \nprogram shuts down...", 10, 30, 144, 20, s::Center | s::NoPrefix,
     0, nullptr},
};

constexpr DialogTemplate kValidating{IDD_VALIDATING, "", kProgressFont, 164, 86, kNoticeStyle, kValidatingControls};
constexpr DialogTemplate kStage{IDD_STAGE, "", kProgressFont, 165, 126, kNoticeStyle, kStageControls};
constexpr DialogTemplate kShutdown{IDD_SHUTDOWN, "", kProgressFont, 164, 84, kNoticeStyle, kShutdownControls};

QWidget* MakeProgressBar(QWidget* parent, const ControlTemplate&)
{
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

void RegisterProgressClass()
{
    static const bool registered = (RegisterControlClass(kProgressClass, MakeProgressBar), true);
    (void)registered;
}

}  // namespace

const DialogTemplate& ValidatingTemplate() { return kValidating; }
const DialogTemplate& StageTemplate() { return kStage; }
const DialogTemplate& ShutdownNoticeTemplate() { return kShutdown; }

CProgressWindow::CProgressWindow(const DialogTemplate& tmpl, QWidget* parent) : QDialog(parent)
{
    RegisterProgressClass();
    BuildDialog(*this, tmpl);
    // A frame of its own: without a caption the window manager draws none.
    setStyleSheet(QStringLiteral("tessel--CProgressWindow, tessel--CStageDlg { border: 1px solid palette(dark); }"));
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void CProgressWindow::ShowNow()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    repaint();
}

void CProgressWindow::closeEvent(QCloseEvent* event)
{
    // Only the owner's own close (not spontaneous) ends it.
    if (event->spontaneous())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

CStageDlg::CStageDlg(QWidget* parent) : CProgressWindow(StageTemplate(), parent)
{
    m_progress = qobject_cast<QProgressBar*>(GetDlgItem(this, IDC_STAGE_PROGRESS));
    m_stageText = qobject_cast<QLabel*>(GetDlgItem(this, IDC_STAGE_TEXT));
}

void CStageDlg::SetStageText(int textId)
{
    if (m_stageText) m_stageText->setText(LoadString(textId));
}

void CStageDlg::SetBar(int position)
{
    if (m_progress) m_progress->setValue(position);
}

int CStageDlg::Bar() const
{
    return m_progress ? m_progress->value() : -1;
}

QString CStageDlg::StageText() const
{
    return m_stageText ? m_stageText->text() : QString();
}

}  // namespace tessel
