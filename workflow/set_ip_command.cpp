#include "workflow/set_ip_command.h"

#include <algorithm>
#include <cmath>

#include "engine/server_table.h"
#include "engine/shared_state.h"
#include "log/events.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/system_commands.h"
#include "workers/hand_over.h"
#include "workers/icmp_probe.h"

namespace tessel {

namespace {


// The help topic that F1 opens while the command's box is up; the box that
// asks to wait for a server leaves the topic as it is.
int HelpOfBox(int id)
{
    switch (id) {
    case IDS_NO_SERVER_CHOSEN:
        return kHelpNoServerChosen;
    case IDS_ZERO_ADDRESS:
        return kHelpZeroAddress;
    case IDS_ADDRESS_IN_USE:
        return kHelpAddressInUse;
    case IDS_NO_REQUEST:
        return kHelpNoRequest;
    case IDS_NOT_VERIFIED:
        return kHelpNotVerified;
    case IDS_UNTIL_RESTART:
    case IDS_UNTIL_RESTART_INKWELL:
        return kHelpUntilRestart;
    case IDS_STORED:
        return kHelpStored;
    case IDS_OFFER_BROWSER:
    case IDS_REGISTER_SERVER:
        return kHelpFollowUp;
    case IDS_BROADCAST_ADDRESS:
        return kHelpBroadcast;
    case IDS_RESERVED_ENDING:
        return kHelpReservedEnding;
    case IDS_SAME_ADDRESS:
        return kHelpSameAddress;
    case IDS_NOT_CHECKED:
        return kHelpNotChecked;
    case IDS_UNREACHABLE_ADDRESS:
        return kHelpUnreachable;
    case IDS_NETWORK_EDGE_ADDRESS:
        return kHelpNetworkEdge;
    default:
        return kHelpUnchanged;
    }
}

// "10.20.30.40" gives "10.20.255.255"; empty when there are not two dots
// to cut at (no address of our own was found).
std::string DirectedBroadcast(const std::string& host)
{
    const auto last = host.rfind('.');
    if (last == std::string::npos || last == 0) return {};
    const auto second = host.rfind('.', last - 1);
    if (second == std::string::npos) return {};
    return host.substr(0, second) + ".255.255";
}

}  // namespace

bool IsNetworkEdge(const Ipv4Bytes& address, const std::vector<NetworkInterface>& interfaces, unsigned onlyInterface)
{
    auto number = [](const Ipv4Bytes& b) {
        return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
    };
    const std::uint32_t wanted = number(address);
    for (const NetworkInterface& candidate : interfaces) {
        if (onlyInterface != 0 && candidate.index != onlyInterface) continue;
        const auto own = ParseAddress(candidate.address);
        if (!own || candidate.prefixLength < 1 || candidate.prefixLength > 30) continue;
        const std::uint32_t mask = ~std::uint32_t{0} << (32 - candidate.prefixLength);
        const std::uint32_t network = number(*own) & mask;
        if (wanted == network || wanted == (network | ~mask)) return true;
    }
    return false;
}

int RefusingBoxHere(const Ipv4Bytes& address, bool reservedEndingConfirmed,
                    const std::vector<NetworkInterface>& interfaces, unsigned onlyInterface)
{
    const int box = RefusingBox(address, false);
    if (box != 0 && box != IDS_RESERVED_ENDING) return box;
    if (IsNetworkEdge(address, interfaces, onlyInterface)) return IDS_NETWORK_EDGE_ADDRESS;
    return box == IDS_RESERVED_ENDING && !reservedEndingConfirmed ? box : 0;
}

CSetIpCommand::CSetIpCommand(SetIpContext context) : m_ctx(std::move(context))
{}

MsgAnswer CSetIpCommand::Box(int id)
{
    m_lastBox = id;
    const ScopedHelp topic(m_ctx.help, HelpOfBox(id));
    return m_ctx.ui.ShowBox(*FindBoxStyle(id));
}

void CSetIpCommand::DeleteNeighbour(const std::string& address)
{
    if (!m_ctx.commands.DeleteNeighbour(address)) LogNeighbourFailure(address);
}

void CSetIpCommand::LogNeighbourFailure(const std::string& address)
{
    LogEvent(m_ctx.shared.logFile, EvNeighbourTableFailed, address);
}

bool CSetIpCommand::StartProbe(const std::shared_ptr<ProbeRequest>& request)
{
    return m_ctx.startIcmpProbe ? m_ctx.startIcmpProbe(request) : StartIcmpProbe(request);
}

SetIpOutcome CSetIpCommand::OnSetIpAddress()
{
    SharedState& shared = m_ctx.shared;
    SetIpOutcome outcome;
    m_lastBox = 0;
    if (shared.awaitingFirstServer.load()) {
        Box(IDS_WAIT_FOR_SERVER);
        outcome.refusingBox = IDS_WAIT_FOR_SERVER;
        return outcome;
    }
    std::string desired;
    if (!ValidateDesiredAddress(desired) || !CheckChosenServer()) {
        outcome.refusingBox = m_lastBox;
        return outcome;
    }

    m_ctx.ui.SetWaitCursor(true);
    SetStage(shared, StageBusy);
    DeleteNeighbour(desired);

    auto probe = std::make_shared<ProbeRequest>(desired);
    const bool started = StartProbe(probe);
    ShowValidatingDialog();
    probe->Abandon();
    const IcmpAnswer answer = ProbeAnswer(*probe, started);
    // An address nobody could look at is not known to be free: the user
    // decides whether to go on without the check.
    const bool unchecked = answer == IcmpAnswer::NotPermitted || answer == IcmpAnswer::NotSent;
    bool goOn = answer != IcmpAnswer::Answered;
    if (unchecked) {
        // The user answers with the normal cursor, as for every other box.
        m_ctx.ui.SetWaitCursor(false);
        goOn = Box(IDS_NOT_CHECKED) == MsgAnswer::Yes;
        if (goOn) m_ctx.ui.SetWaitCursor(true);
    }
    if (!goOn) {
        SetStage(shared, StageIdle);
        m_ctx.ui.SetWaitCursor(false);
        if (answer == IcmpAnswer::Answered) Box(IDS_ADDRESS_IN_USE);
        m_ctx.ui.FocusField(4);
        outcome.refusingBox = m_lastBox;
        outcome.checkNotSent = answer == IcmpAnswer::NotSent;
        return outcome;
    }
    DeleteNeighbour(desired);

    // From here the network thread answers the chosen server's next request.
    SetStage(shared, StageAwaitRequest);
    RunSettingProgress();
    int stage;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        stage = shared.stage.load();
        shared.stage.store(StageBusy);
    }
    const int result = RunFallback(stage);
    m_ctx.ui.SetWaitCursor(false);
    ShowResult(result);
    OfferFollowUp(result, desired);
    if (!m_bClosingAfterRegistration) SetStage(shared, StageIdle);
    m_ctx.clock.sleepMs(kFollowUpPauseMs);
    DeleteNeighbour(desired);

    outcome.refused = false;
    outcome.result = result;
    outcome.engineStage = stage;
    outcome.finalAnswered = m_bFinalAnswered;
    return outcome;
}

bool CSetIpCommand::ValidateDesiredAddress(std::string& out)
{
    const auto bytes = m_ctx.ui.ReadAddress();
    if (!bytes) return false;
    out = FormatAddress(*bytes);
    const int refusal = RefusingBoxHere(*bytes, false, m_ctx.interfaces ? m_ctx.interfaces() : NetworkInterfaces(),
                                        m_ctx.shared.onlyInterface);
    if (refusal == IDS_RESERVED_ENDING) {
        // The user may confirm this one.
        if (Box(refusal) != MsgAnswer::Ok) {
            m_ctx.ui.FocusField(4);
            return false;
        }
    } else if (refusal != 0) {
        Box(refusal);
        // The network's edges differ from a good address in the last field.
        m_ctx.ui.FocusField(refusal == IDS_NETWORK_EDGE_ADDRESS ? 4 : 1);
        return false;
    }
    std::lock_guard<std::mutex> guard(m_ctx.shared.stateLock);
    m_ctx.shared.desiredAddress = out;
    return true;
}

bool CSetIpCommand::CheckChosenServer()
{
    SharedState& shared = m_ctx.shared;
    std::optional<std::string> serial;
    std::string current;
    bool same = false;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        serial = m_ctx.ui.SelectedSerial();
        if (serial && shared.serverList != nullptr) {
            const int row = shared.serverList->Find(*serial);
            const auto rows = shared.serverList->Rows();
            if (row >= 0) current = rows[static_cast<std::size_t>(row)].address;
            same = row >= 0 && current == shared.desiredAddress;
        }
        if (serial && !same) shared.chosenSerial = *serial;
    }
    if (!serial) {
        Box(IDS_NO_SERVER_CHOSEN);
        return false;
    }
    if (same) {
        Box(IDS_SAME_ADDRESS);
        m_ctx.ui.FocusField(4);
        return false;
    }
    return true;
}

void CSetIpCommand::ShowValidatingDialog()
{
    m_ctx.ui.OpenValidating();
    for (int i = 0; i < kValidatingSteps; ++i) m_ctx.clock.sleepMs(kValidatingStepMs);
    m_ctx.ui.CloseValidating();
}

int CSetIpCommand::BarPosition(double x, int floor)
{
    const int byTime = static_cast<int>(x);
    const int byStage = static_cast<int>(floor + x / 4.0);
    return std::min(100, std::max(byTime, byStage));
}

void CSetIpCommand::RunSettingProgress()
{
    Clock& clock = m_ctx.clock;
    SetIpFrontEnd& ui = m_ctx.ui;
    const std::int64_t start = clock.nowMs();
    std::int64_t deadline = start + kSettingDeadlineMs;
    int shown = StageAwaitRequest;
    int floor = 0;
    bool repliedSeen = false, savingSeen = false;

    OpenStageWindow(IDS_STAGE_WAITING);
    while (clock.nowMs() < deadline) {
        int text = IDS_STAGE_WAITING;
        switch (shown) {
        case StageReplied:
            text = IDS_STAGE_SETTING;
            if (!repliedSeen) {
                repliedSeen = true;
                deadline = clock.nowMs() + kRepliedDeadlineMs;
                floor = 44;
            }
            break;
        case StageRestarting:
            text = IDS_STAGE_VERIFYING;
            floor = 51;
            break;
        case StageVerifying:
            text = IDS_STAGE_VERIFYING;
            floor = 61;
            break;
        case StageVerified:
            text = IDS_STAGE_SAVING;
            if (!savingSeen) {
                savingSeen = true;
                deadline = clock.nowMs() + kSavingDeadlineMs;
                floor = 72;
            }
            break;
        default:
            break;
        }
        ui.SetStageText(text);
        const double x = static_cast<double>(clock.nowMs() - start) * 100.0 / static_cast<double>(deadline - start);
        ui.SetBar(BarPosition(x, floor));
        ui.Repaint();
        clock.sleepMs(kSettingCycleMs);
        // One step per cycle, whatever jump the network thread made.
        if (m_ctx.shared.stage.load() > shown) ++shown;
        if (shown == StageStored) break;
    }
    CloseStageWindow();
}

void CSetIpCommand::RunRetryingProgress()
{
    Clock& clock = m_ctx.clock;
    SetIpFrontEnd& ui = m_ctx.ui;
    const std::int64_t start = clock.nowMs();
    const std::int64_t end = start + kRetryingMs;
    OpenStageWindow(IDS_STAGE_RETRYING);
    while (clock.nowMs() < end) {
        ui.SetBar(static_cast<int>((clock.nowMs() - start) * 100 / kRetryingMs));
        ui.Repaint();
        clock.sleepMs(kRetryingStepMs);
    }
    CloseStageWindow();
}

void CSetIpCommand::OpenStageWindow(int textId)
{
    m_ctx.ui.OpenStage(textId);
    m_ctx.ui.SetBar(0);
    m_ctx.clock.sleepMs(kStageOpenPauseMs);
}

// The bar is full before every close.
void CSetIpCommand::CloseStageWindow()
{
    m_ctx.ui.SetBar(100);
    m_ctx.clock.sleepMs(kStageClosePauseMs);
    m_ctx.ui.CloseStage();
}

int CSetIpCommand::RunFallback(int stage)
{
    // Only this thread writes these three; no lock needed to read them here.
    const std::string desired = m_ctx.shared.desiredAddress;
    const std::string serial = m_ctx.shared.chosenSerial;
    const std::string host = m_ctx.shared.hostAddress;
    SystemCommands& commands = m_ctx.commands;

    if (stage == StageVerified) {
        commands.PingOnce(desired);
    } else if (stage <= StageVerifying) {
        // Not confirmed yet: teach this computer the server's hardware
        // address by hand and ping it at the new address.
        const std::string broadcast = DirectedBroadcast(host);
        if (!broadcast.empty()) commands.PingBroadcast(broadcast);
        if (!commands.SetStaticNeighbour(desired, serial, host)) LogNeighbourFailure(desired);
        commands.PingOnce(desired);
        DeleteNeighbour(desired);
    }
    auto probe = std::make_shared<ProbeRequest>(desired);
    StartProbe(probe);
    RunRetryingProgress();
    const bool answered = probe->Abandon() != 0;
    m_bFinalAnswered = answered;
    // Only the server's own word makes an address permanent. One that
    // answers without a confirmed store holds until the server restarts,
    // and the user can still store it through the server's home page.
    if (stage == StageStored || !answered) return stage;
    return StageVerified;
}

void CSetIpCommand::ShowResult(int result)
{
    switch (result) {
    case StageAwaitRequest:
        Box(IDS_NO_REQUEST);
        break;
    case StageVerified:
        Box(m_ctx.inkwellMode ? IDS_UNTIL_RESTART_INKWELL : IDS_UNTIL_RESTART);
        break;
    case StageStored:
        Box(IDS_STORED);
        break;
    default:
        Box(IDS_NOT_VERIFIED);
        break;
    }
}

void CSetIpCommand::OfferFollowUp(int result, const std::string& address)
{
    if (result != StageVerified && result != StageStored) return;
    m_ctx.clock.sleepMs(kFollowUpPauseMs);
    UpdateRowAddress(address);
    m_ctx.clock.sleepMs(kFollowUpPauseMs);
    // Both offers are about what comes next; after a registration the
    // program closes with that topic still in force.
    if (m_ctx.help) m_ctx.help->Set(kHelpFollowUp);
    if (m_ctx.inkwellMode) {
        if (Box(IDS_REGISTER_SERVER) == MsgAnswer::Yes) {
            m_ctx.ui.RegisterNewServer(address);
            m_bClosingAfterRegistration = true;
            m_ctx.ui.CloseProgram();
            return;
        }
    } else if (Box(IDS_OFFER_BROWSER) == MsgAnswer::Yes) {
        m_ctx.ui.LaunchBrowser(address);
    }
    if (m_ctx.help) m_ctx.help->Reset();
}

void CSetIpCommand::UpdateRowAddress(const std::string& address)
{
    SharedState& shared = m_ctx.shared;
    std::lock_guard<std::mutex> guard(shared.stateLock);
    if (shared.serverList == nullptr) return;
    const int row = shared.serverList->Find(shared.chosenSerial);
    if (row >= 0) shared.serverList->SetAddress(row, address);
}

}  // namespace tessel
