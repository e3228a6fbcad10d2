#include "app/progress_windows.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

#include "app/dialogbuilder.h"
#include "app/dialogitems.h"
#include "app/stringtable.h"
#include "resources/resource.h"
#include "resources/texts.h"

namespace tessel {
namespace {

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

ProgressWindow::ProgressWindow(const DialogTemplate& tmpl, QWidget* parent) : QDialog(parent)
{
    RegisterProgressClass();
    BuildDialog(*this, tmpl);
    // A frame of its own: without a caption the window manager draws none.
    setStyleSheet(QStringLiteral("tessel--ProgressWindow, tessel--CStageDlg { border: 1px solid palette(dark); }"));
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void ProgressWindow::ShowNow()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    repaint();
}

void ProgressWindow::closeEvent(QCloseEvent* event)
{
    // Only the owner's own close (not spontaneous) ends it.
    if (event->spontaneous())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

CStageDlg::CStageDlg(QWidget* parent) : ProgressWindow(StageTemplate(), parent)
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
