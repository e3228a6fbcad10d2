#include "app/mainwindowview.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

#include "app/animatectrl.h"
#include "app/browser.h"
#include "app/ipaddrctl.h"
#include "app/messagebox.h"
#include "app/progress_windows.h"
#include "app/registryaccess.h"
#include "app/serverlistmodel.h"
#include "app/stringtable.h"
#include "resources/dialogs.h"
#include "resources/resource.h"

namespace tessel {

QtMainWindowView::QtMainWindowView(Controls controls, Clock& base,
                                   std::function<void(const std::string&)> registerNewServer)
    : m_controls(controls), m_clock(base), m_registerNewServer(std::move(registerNewServer)),
      m_context(std::make_unique<QObject>())
{}

QtMainWindowView::~QtMainWindowView()
{
    while (m_waitCursors > 0) SetWaitCursor(false);
}

int QtMainWindowView::RowCount() const
{
    const QAbstractItemModel* model = m_controls.list ? m_controls.list->model() : nullptr;
    return model ? model->rowCount() : 0;
}

int QtMainWindowView::FirstSelectedRow() const
{
    const QItemSelectionModel* selection = m_controls.list ? m_controls.list->selectionModel() : nullptr;
    if (!selection) return -1;
    int first = -1;
    for (const QModelIndex& index : selection->selectedIndexes())
        if (first < 0 || index.row() < first) first = index.row();
    return first;
}

bool QtMainWindowView::RowTexts(int row, std::string& serial, std::string& address) const
{
    const QAbstractItemModel* model = m_controls.list ? m_controls.list->model() : nullptr;
    if (!model || row < 0 || row >= model->rowCount()) return false;
    serial = model->index(row, 0).data().toString().toStdString();
    address = model->index(row, 1).data().toString().toStdString();
    return true;
}

void QtMainWindowView::FollowServerTable(ServerTable* table)
{
    if (!m_controls.model) return;
    if (table)
        m_controls.model->Attach(*table);
    else
        m_controls.model->Detach();
}

void QtMainWindowView::FocusServerList()
{
    if (m_controls.list) m_controls.list->setFocus();
}

void QtMainWindowView::SetStatusText(const std::string& text)
{
    if (m_controls.statusLine) m_controls.statusLine->setText(QString::fromStdString(text));
}

void QtMainWindowView::EnableAddressInputs(bool enable)
{
    for (QWidget* control : {m_controls.step2Text, static_cast<QWidget*>(m_controls.address),
                             static_cast<QWidget*>(m_controls.setIpButton)})
        if (control) control->setEnabled(enable);
}

void QtMainWindowView::EnableCloseButton(bool enable)
{
    if (m_controls.closeButton) m_controls.closeButton->setEnabled(enable);
}

void QtMainWindowView::LockInput(bool locked)
{
    m_clock.LockWindow(locked ? m_controls.window : nullptr);
}

void QtMainWindowView::SetWaitCursor(bool on)
{
    if (on) {
        ++m_waitCursors;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_waitCursors > 0) {
        --m_waitCursors;
        QApplication::restoreOverrideCursor();
    }
}

void QtMainWindowView::StartAnimation()
{
    if (m_controls.animation && m_controls.animation->Open(IDR_ANIMATION))
        m_controls.animation->Play(kAnimationFirstFrame, kAnimationLastFrame, CAnimateCtrl::kRepeatWithoutEnd);
}

void QtMainWindowView::SetSwitches(bool logfile, bool onlyMerrow)
{
    if (m_controls.logfileCheck) m_controls.logfileCheck->setChecked(logfile);
    if (m_controls.onlyMerrowCheck) m_controls.onlyMerrowCheck->setChecked(onlyMerrow);
}

void QtMainWindowView::HideInstallerControls()
{
    const std::initializer_list<QWidget*> controls{m_controls.merrowWebButton, m_controls.homePageButton,
                                                   m_controls.logfileCheck, m_controls.onlyMerrowCheck};
    for (QWidget* control : controls)
        if (control) control->setEnabled(false);
    for (QWidget* control : controls)
        if (control) control->setVisible(false);
}

void QtMainWindowView::StopAnimation()
{
    if (!m_controls.animation) return;
    m_controls.animation->Stop();
    m_controls.animation->Close();
}

void QtMainWindowView::SetAddress(const Ipv4Bytes& bytes)
{
    if (m_controls.address) m_controls.address->SetAddress(bytes.data());
}

std::optional<Ipv4Bytes> QtMainWindowView::ReadAddress()
{
    IPAddrData data;
    if (!m_controls.address || m_controls.address->GetAddress(true, &data) == 0) return std::nullopt;
    return data.octets;
}

void QtMainWindowView::FocusAddressField(int field)
{
    CIPAddrEdit* edit = m_controls.address ? m_controls.address->GetField(field) : nullptr;
    if (!edit) return;
    edit->setFocus(Qt::OtherFocusReason);
    // The whole text selected, the caret at its end in view.
    edit->selectAll();
}

MsgAnswer QtMainWindowView::ShowBox(const BoxStyle& box)
{
    return ShowMessageBox(m_controls.window, box.id, box.buttons, box.icon, box.defaultButton);
}

void QtMainWindowView::ShowTextBox(const std::string& text, MsgIcon icon)
{
    MessageBoxRequest request;
    request.owner = m_controls.window;
    request.text = QString::fromStdString(text);
    request.icon = icon;
    ShowMessageBox(std::move(request));
}

void QtMainWindowView::OpenValidating()
{
    m_validating = std::make_unique<ProgressWindow>(ValidatingTemplate(), m_controls.window);
    m_validating->ShowNow();
}

void QtMainWindowView::CloseValidating()
{
    if (m_validating) m_validating->close();
    m_validating.reset();
}

void QtMainWindowView::OpenStage(int textId)
{
    m_stage = std::make_unique<CStageDlg>(m_controls.window);
    m_stage->SetStageText(textId);
    m_stage->ShowNow();
}

void QtMainWindowView::SetStageText(int textId)
{
    if (m_stage) m_stage->SetStageText(textId);
}

void QtMainWindowView::SetBar(int position)
{
    if (m_stage) m_stage->SetBar(position);
}

void QtMainWindowView::CloseStage()
{
    if (m_stage) m_stage->close();
    m_stage.reset();
}

void QtMainWindowView::OpenShutdownNotice()
{
    m_notice = std::make_unique<ProgressWindow>(ShutdownNoticeTemplate(), m_controls.window);
    m_notice->ShowNow();
}

void QtMainWindowView::CloseShutdownNotice()
{
    if (m_notice) m_notice->close();
    m_notice.reset();
}

void QtMainWindowView::Repaint()
{
    if (m_controls.window) m_controls.window->repaint();
    if (m_stage) m_stage->repaint();
}

bool QtMainWindowView::OpenUrl(const std::string& url)
{
    const UrlOpener& opener = CurrentUrlOpener();
    return opener ? opener(url) : OpenInBrowser(url);
}

void QtMainWindowView::RegisterNewServer(const std::string& address)
{
    if (m_registerNewServer) m_registerNewServer(address);
}

std::optional<std::string> QtMainWindowView::ReadTesselPath()
{
    QString path;
    if (!CRegistryAccess().ReadString(QString::fromLatin1(kInkwellKey), kTesselPathValue, &path,
                                      RegistryRoot::LocalMachine))
        return std::nullopt;
    return path.toStdString();
}

void QtMainWindowView::EndDialog()
{
    // The dialog's own end sends it a close event, which a locked window
    // would refuse.
    LockInput(false);
    if (m_controls.window) m_controls.window->done(QDialog::Rejected);
}

void QtMainWindowView::Post(std::function<void()> call)
{
    QMetaObject::invokeMethod(m_context.get(), std::move(call), Qt::QueuedConnection);
}

}  // namespace tessel
