// The Set-IP command from the button press to the last message box: check
// the address and the chosen server, probe the address, hand the job to the
// network thread, follow its stages, run the fallback, show the outcome and
// offer the next step. Free of widgets: a front end (the window, or the
// terminal) supplies the boxes, the progress display and the typed address.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ipaddress.h"
#include "platform/hostinfo.h"
#include "resources/dialogs.h"
#include "resources/help_topics.h"
#include "resources/texts.h"

namespace tessel {

class Clock;
class SystemCommands;
struct ProbeRequest;
struct SharedState;

class SetIpFrontEnd {
public:
    virtual ~SetIpFrontEnd() = default;
    // Shows the box modally and returns the answer; the help topic of the
    // box is already current.
    virtual MsgAnswer ShowBox(const BoxStyle& box) = 0;
    // The address control's four fields, checked with the user told of a bad
    // one (then nothing is returned and the command ends silently).
    virtual std::optional<Ipv4Bytes> ReadAddress() = 0;
    // Focuses field 1 to 4 of the address control and selects its text.
    virtual void FocusField(int field) = 0;
    // The serial number of the first selected row of the server list.
    virtual std::optional<std::string> SelectedSerial() = 0;
    virtual void SetWaitCursor(bool on) = 0;
    // The "Validating..." notice.
    virtual void OpenValidating() = 0;
    virtual void CloseValidating() = 0;
    // The stage window ("SETTING IP ADDRESS" and "Retrying...").
    virtual void OpenStage(int textId) = 0;
    virtual void SetStageText(int textId) = 0;
    virtual void SetBar(int position) = 0;
    virtual void Repaint() = 0;
    virtual void CloseStage() = 0;
    // The follow-up after an address was set.
    virtual void LaunchBrowser(const std::string& address) = 0;
    virtual void RegisterNewServer(const std::string& address) = 0;
    virtual void CloseProgram() = 0;
};

// Fixed times of the command and its progress windows.
inline constexpr int kValidatingSteps = 10;
inline constexpr int kValidatingStepMs = 400;
inline constexpr int kSettingDeadlineMs = 44000;
inline constexpr int kRepliedDeadlineMs = 30000;
inline constexpr int kSavingDeadlineMs = 14000;
inline constexpr int kSettingCycleMs = 1400;
inline constexpr int kRetryingMs = 14000;
inline constexpr int kRetryingStepMs = 400;
inline constexpr int kStageOpenPauseMs = 140;
inline constexpr int kStageClosePauseMs = 240;
inline constexpr int kFollowUpPauseMs = 140;

struct SetIpContext {
    SharedState& shared;
    SetIpFrontEnd& ui;
    Clock& clock;
    SystemCommands& commands;
    HelpContext* help;  // null: a front end without help (tessel-cli)
    bool inkwellMode = false;
    // Starts the ICMP echo probe on a record; empty means the real probe.
    std::function<bool(std::shared_ptr<ProbeRequest>)> startIcmpProbe;
    // The interfaces whose networks' own and broadcast addresses are
    // refused; empty means this computer's.
    std::function<std::vector<NetworkInterface>()> interfaces = {};
};

// The network address or the broadcast address of a network on one of
// `interfaces` (only the one with index onlyInterface, when that is not 0):
// the network where servers are heard. A /31 or /32 has neither.
bool IsNetworkEdge(const Ipv4Bytes& address, const std::vector<NetworkInterface>& interfaces,
                   unsigned onlyInterface = 0);

// The box that refuses an address outright, as every front end checks it:
// RefusingBox's refusals first, then box 146 for a network edge (even with
// an ending that the user confirmed), then the ending 0, 1 or 255 unless
// confirmed; 0 when none does.
int RefusingBoxHere(const Ipv4Bytes& address, bool reservedEndingConfirmed,
                    const std::vector<NetworkInterface>& interfaces, unsigned onlyInterface);

// How a run of the command ended.
struct SetIpOutcome {
    bool refused = true;  // a check ended it before any network action (or the address is in use)
    int refusingBox = 0;  // the box that ended it, 0 when the address control told the user
    // Box 144 was shown because the echo request could not be sent (no
    // route, a refusal of the system), not for want of permission.
    bool checkNotSent = false;
    int result = -1;  // after a run: 0 to 5, as the stage numbers; 5 only for a confirmed store
    // After a run: the stage the network thread had reached when the
    // progress ended. A result of 4 with this below 4 came from the final
    // ICMP check alone: the server answers, but it never told of a store.
    int engineStage = -1;
    // After a run: the final ICMP check found the server at its address.
    bool finalAnswered = false;
};

class CSetIpCommand {
public:
    explicit CSetIpCommand(SetIpContext context);

    SetIpOutcome OnSetIpAddress();

    bool ValidateDesiredAddress(std::string& out);
    bool CheckChosenServer();
    void ShowValidatingDialog();
    void RunSettingProgress();
    void RunRetryingProgress();
    int RunFallback(int stage);
    void ShowResult(int result);
    void OfferFollowUp(int result, const std::string& address);
    void UpdateRowAddress(const std::string& address);

    bool ClosingAfterRegistration() const { return m_bClosingAfterRegistration; }

    // The bar position of the stage window for time x (percent of the way
    // from start to deadline) and the shown stage's floor.
    static int BarPosition(double x, int floor);

private:
    MsgAnswer Box(int id);
    void OpenStageWindow(int textId);
    void CloseStageWindow();
    bool StartProbe(const std::shared_ptr<ProbeRequest>& request);
    // "arp -d" and the logfile line when the table could not be changed.
    void DeleteNeighbour(const std::string& address);
    void LogNeighbourFailure(const std::string& address);

    SetIpContext m_ctx;
    int m_lastBox = 0;
    bool m_bFinalAnswered = false;
    bool m_bClosingAfterRegistration = false;
};

}  // namespace tessel
