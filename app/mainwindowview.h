// The Qt main window as its logic sees it: the list, the texts, the address
// control, boxes, the progress windows, the browser and the window clock,
// over the controls that CTesselDlg built from its template.
#pragma once

#include <QPointer>

#include <functional>
#include <memory>

#include "app/window_clock.h"
#include "workflow/main_window_view.h"

class QCheckBox;
class QDialog;
class QLineEdit;
class QObject;
class QPushButton;
class QTreeView;
class QWidget;

namespace tessel {

class CAnimateCtrl;
class CIPAddrCtl;
class ProgressWindow;
class ServerListItemModel;
class CStageDlg;

class QtMainWindowView final : public MainWindowView {
public:
    struct Controls {
        QDialog* window = nullptr;
        QTreeView* list = nullptr;  // model: column 0 serial, column 1 address
        CIPAddrCtl* address = nullptr;
        QLineEdit* statusLine = nullptr;
        QWidget* step2Text = nullptr;
        QPushButton* setIpButton = nullptr;
        QPushButton* closeButton = nullptr;
        CAnimateCtrl* animation = nullptr;
        ServerListItemModel* model = nullptr;  // the list's, when it follows an engine
        QCheckBox* logfileCheck = nullptr;
        QCheckBox* onlyMerrowCheck = nullptr;
        // Hidden in the installer's run, with the two check boxes.
        QPushButton* merrowWebButton = nullptr;
        QPushButton* homePageButton = nullptr;
    };
    // `base`: the time of the window's waits (the steady clock in the
    // program, virtual time in tests).
    QtMainWindowView(Controls controls, Clock& base, std::function<void(const std::string&)> registerNewServer);
    ~QtMainWindowView() override;

    int RowCount() const override;
    int FirstSelectedRow() const override;
    bool RowTexts(int row, std::string& serial, std::string& address) const override;
    void FollowServerTable(ServerTable* table) override;
    void FocusServerList() override;
    void SetStatusText(const std::string& text) override;
    void EnableAddressInputs(bool enable) override;
    void EnableCloseButton(bool enable) override;
    void LockInput(bool locked) override;
    void SetWaitCursor(bool on) override;
    void StartAnimation() override;
    void StopAnimation() override;
    void SetSwitches(bool logfile, bool onlyMerrow) override;
    void HideInstallerControls() override;
    void SetAddress(const Ipv4Bytes& bytes) override;
    std::optional<Ipv4Bytes> ReadAddress() override;
    void FocusAddressField(int field) override;
    MsgAnswer ShowBox(const BoxStyle& box) override;
    void ShowTextBox(const std::string& text, MsgIcon icon) override;
    void OpenValidating() override;
    void CloseValidating() override;
    void OpenStage(int textId) override;
    void SetStageText(int textId) override;
    void SetBar(int position) override;
    void CloseStage() override;
    void OpenShutdownNotice() override;
    void CloseShutdownNotice() override;
    void Repaint() override;
    bool OpenUrl(const std::string& url) override;
    void RegisterNewServer(const std::string& address) override;
    std::optional<std::string> ReadTesselPath() override;
    void EndDialog() override;
    void Post(std::function<void()> call) override;
    Clock& WindowClock() override { return m_clock; }

    // The progress windows while they are up, for tests that look at them.
    CStageDlg* Stage() const { return m_stage.get(); }
    ProgressWindow* Validating() const { return m_validating.get(); }
    ProgressWindow* Notice() const { return m_notice.get(); }

private:
    Controls m_controls;
    tessel::WindowClock m_clock;
    std::function<void(const std::string&)> m_registerNewServer;
    // Posted calls land on this object, on the window's thread; they go
    // with it.
    std::unique_ptr<QObject> m_context;
    std::unique_ptr<ProgressWindow> m_validating;
    std::unique_ptr<CStageDlg> m_stage;
    std::unique_ptr<ProgressWindow> m_notice;
    int m_waitCursors = 0;
};

}  // namespace tessel
