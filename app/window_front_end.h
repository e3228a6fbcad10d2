// The window as the Set-IP command's front end: its boxes through the
// message-box service, the address control, the list's selection, the wait
// cursor and the progress windows, all on the user-interface thread.
#pragma once

#include <QPointer>

#include <functional>
#include <memory>

#include "app/progress_windows.h"
#include "workflow/set_ip_command.h"

class QAbstractItemView;

namespace tessel {

class CIPAddrCtl;

// The first selected row of a list whose model holds the serial number in
// column 0 and the current address in column 1; -1 when none is selected.
int FirstSelectedRow(const QAbstractItemView& list);

class CWindowSetIpFrontEnd final : public SetIpFrontEnd {
public:
    struct Parts {
        QWidget* window = nullptr;
        CIPAddrCtl* address = nullptr;
        QAbstractItemView* list = nullptr;
        std::function<void(const std::string&)> launchBrowser;
        std::function<void(const std::string&)> registerNewServer;
        std::function<void()> closeProgram;
    };
    explicit CWindowSetIpFrontEnd(Parts parts);
    ~CWindowSetIpFrontEnd() override;

    MsgAnswer ShowBox(const BoxStyle& box) override;
    std::optional<Ipv4Bytes> ReadAddress() override;
    void FocusField(int field) override;
    std::optional<std::string> SelectedSerial() override;
    void SetWaitCursor(bool on) override;
    void OpenValidating() override;
    void CloseValidating() override;
    void OpenStage(int textId) override;
    void SetStageText(int textId) override;
    void SetBar(int position) override;
    void Repaint() override;
    void CloseStage() override;
    void LaunchBrowser(const std::string& address) override { m_parts.launchBrowser(address); }
    void RegisterNewServer(const std::string& address) override { m_parts.registerNewServer(address); }
    void CloseProgram() override { m_parts.closeProgram(); }

    // The windows while they are up, for tests that look at them.
    CStageDlg* Stage() const { return m_stage.get(); }
    CProgressWindow* Validating() const { return m_validating.get(); }

private:
    Parts m_parts;
    std::unique_ptr<CProgressWindow> m_validating;
    std::unique_ptr<CStageDlg> m_stage;
    bool m_bWaitCursor = false;
};

}  // namespace tessel
