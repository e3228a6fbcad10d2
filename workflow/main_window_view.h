// The main window as its logic sees it: the few things the logic asks of a
// window, whatever draws it. The Qt window and the Win32 window each
// implement this; nothing here decides what the program does.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "engine/ipaddress.h"
#include "resources/texts.h"

namespace tessel {

class Clock;
class ServerTable;

class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // ---- The server list (1024), mirroring the engine's server table in
    // order. The logic reads it under stateLock, so these must not wait for
    // anything.
    virtual int RowCount() const = 0;
    virtual int FirstSelectedRow() const = 0;  // -1 when no row is selected
    // Column 0 (serial) and column 1 (address) of a row; false when there is no such row.
    virtual bool RowTexts(int row, std::string& serial, std::string& address) const = 0;
    // The list takes the table's rows as they are and then follows its
    // changes, from the network thread, in order; null ends that before
    // the table goes.
    virtual void FollowServerTable(ServerTable* table) = 0;
    virtual void FocusServerList() = 0;

    // ---- Texts and enabling.
    virtual void SetStatusText(const std::string& text) = 0;  // the selected-server line, 1055
    // Text 1054, the address control and "&Set IP address", in this order.
    virtual void EnableAddressInputs(bool enable) = 0;
    virtual void EnableCloseButton(bool enable) = 0;
    // While a command or the close routine runs the main window takes no
    // input at all, as the system disables a dialog's owner; boxes shown
    // meanwhile take theirs.
    virtual void LockInput(bool locked) = 0;
    virtual void SetWaitCursor(bool on) = 0;
    virtual void StartAnimation() = 0;
    virtual void StopAnimation() = 0;
    // The check boxes "Logfile" (1042) and "only the maker's servers" (1043).
    virtual void SetSwitches(bool logfile, bool onlyMerrow) = 0;
    // The installer's run: no web buttons and no switches, disabled and hidden.
    virtual void HideInstallerControls() = 0;

    // ---- The address control (1025), through its rules.
    virtual void SetAddress(const Ipv4Bytes& bytes) = 0;
    // The four fields, checked, a bad one told in the control's own box
    // (then nothing is returned).
    virtual std::optional<Ipv4Bytes> ReadAddress() = 0;
    // Focuses field 1 to 4 and selects its text.
    virtual void FocusAddressField(int field) = 0;

    // ---- Boxes, modal, through the message-box service; the help topic
    // of the box is already current.
    virtual MsgAnswer ShowBox(const BoxStyle& box) = 0;
    // A box whose text is not in the table (the port 67 advice).
    virtual void ShowTextBox(const std::string& text, MsgIcon icon) = 0;

    // ---- The small progress windows: "Validating...", the stage window
    // and the shutdown notice.
    virtual void OpenValidating() = 0;
    virtual void CloseValidating() = 0;
    virtual void OpenStage(int textId) = 0;
    virtual void SetStageText(int textId) = 0;
    virtual void SetBar(int position) = 0;
    virtual void CloseStage() = 0;
    virtual void OpenShutdownNotice() = 0;
    virtual void CloseShutdownNotice() = 0;
    // Paints the window and any progress window now.
    virtual void Repaint() = 0;

    // ---- The world outside the window.
    // Opens the page in the desktop's browser; false when none will open.
    virtual bool OpenUrl(const std::string& url) = 0;
    // Hands the new server's address to the installer ("NewServer").
    virtual void RegisterNewServer(const std::string& address) = 0;
    // The installer's "Tessel Path"; unset when it is not there.
    virtual std::optional<std::string> ReadTesselPath() = 0;
    // Ends the main window's modal run: the program ends.
    virtual void EndDialog() = 0;

    // ---- Threads and time.
    // Runs `call` on the window's thread soon, in the order posted; safe
    // from any thread.
    virtual void Post(std::function<void()> call) = 0;
    // The window's own waits: they paint and run posted calls, and drop the
    // user's input.
    virtual Clock& WindowClock() = 0;
};

}  // namespace tessel
