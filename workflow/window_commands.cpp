#include "workflow/window_commands.h"

#include <algorithm>
#include <cstdlib>

#include "engine/engine_host.h"
#include "engine/network_thread.h"
#include "engine/shared_state.h"
#include "log/logfile.h"
#include "platform/clock.h"
#include "platform/privileges.h"
#include "platform/system_commands.h"
#include "resources/dialogs.h"
#include "workflow/set_ip_command.h"

namespace tessel {
namespace {

// The message of a port 67 that this program may not take: there is no
// other program to close, the user must start this one differently. The
// advice is the one every command gives: how to join the group tessel, or
// the helper's path with each capability and what it is for.
std::string PortNotPermittedText()
{
    return "Network startup failed!   \n\n"
           "This program is not permitted to use the BOOTP/DHCP port (UDP 67).\n" +
           CapabilitiesAdvice(RunningProgramPath("tessel")) +
           "\n\n"
           "This program will shut down after pressing OK...   ";
}

// Decimal text to an integer up to the first non-digit, as the system's
// string conversion does; its low eight bits.
std::uint8_t LowByteOf(const std::string& text)
{
    return static_cast<std::uint8_t>(std::atoi(text.c_str()) & 0xFF);
}

}  // namespace

Ipv4Bytes HostNetworkAddress(const HostOctets& hostOctets)
{
    return {LowByteOf(hostOctets[0]), LowByteOf(hostOctets[1]), LowByteOf(hostOctets[2]), 0};
}

WindowHost WindowHostOf(const HostIdentity& found)
{
    WindowHost host;
    host.identity.name = found.name.substr(0, kHostNameMax);
    if (host.identity.name.empty() || found.address.empty()) return host;
    HostOctets octets;
    std::size_t start = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t dot = found.address.find('.', start);
        if ((dot == std::string::npos) != (i == 3)) return host;
        if (i < 3) octets[i] = found.address.substr(start, dot - start);
        start = dot + 1;
    }
    host.octets = octets;
    host.identity.address = found.address;
    return host;
}

EngineSetup WindowEngineSetup(bool inkwellMode, const std::optional<std::string>& tesselPath, const HostIdentity& host)
{
    const LogfileLocation location = ChooseLogfileLocation(inkwellMode, inkwellMode ? tesselPath : std::nullopt);
    EngineSetup setup;
    setup.logfile = std::make_unique<CLogfile>(location.folder, location.fileName);
    setup.printServersOnly = inkwellMode;
    setup.onlyMerrow = true;
    setup.hostName = host.name;
    setup.hostAddress = host.address;
    return setup;
}

Ipv4Bytes ProposeAddress(const std::string& address, const HostOctets& hostOctets, bool inkwellMode)
{
    const Ipv4Bytes host = HostNetworkAddress(hostOctets);
    if (address == kNoAddress || address == kFactoryDefaultAddress) return host;
    // From the right: the fourth octet after the last dot, then the third,
    // then the second; the first is what remains.
    std::array<std::string, 4> parts;
    std::string rest = address;
    for (int i = 3; i > 0; --i) {
        const auto dot = rest.rfind('.');
        if (dot == std::string::npos) {
            parts[static_cast<std::size_t>(i)] = rest;
            rest.clear();
            continue;
        }
        parts[static_cast<std::size_t>(i)] = rest.substr(dot + 1);
        rest.erase(dot);
    }
    parts[0] = rest;
    Ipv4Bytes bytes{LowByteOf(parts[0]), LowByteOf(parts[1]), LowByteOf(parts[2]), LowByteOf(parts[3])};
    if (!inkwellMode) {
        bytes[0] = host[0];
        bytes[1] = host[1];
    }
    return bytes;
}

// The window as the Set-IP command's front end: the command's boxes,
// address and progress windows are the view's; the browser and the close
// are the window logic's own.
class WindowCommands::FrontEnd final : public SetIpFrontEnd {
public:
    explicit FrontEnd(WindowCommands& owner) : m_owner(owner), m_view(owner.m_view) {}
    ~FrontEnd() override { SetWaitCursor(false); }

    MsgAnswer ShowBox(const BoxStyle& box) override { return m_view.ShowBox(box); }
    std::optional<Ipv4Bytes> ReadAddress() override { return m_view.ReadAddress(); }
    void FocusField(int field) override { m_view.FocusAddressField(field); }
    std::optional<std::string> SelectedSerial() override
    {
        std::string serial, address;
        if (!m_owner.ReadRow(m_view.FirstSelectedRow(), serial, address)) return std::nullopt;
        return serial;
    }
    void SetWaitCursor(bool on) override
    {
        if (on == m_bWaitCursor) return;
        m_bWaitCursor = on;
        m_view.SetWaitCursor(on);
    }
    void OpenValidating() override { m_view.OpenValidating(); }
    void CloseValidating() override { m_view.CloseValidating(); }
    void OpenStage(int textId) override { m_view.OpenStage(textId); }
    void SetStageText(int textId) override { m_view.SetStageText(textId); }
    void SetBar(int position) override { m_view.SetBar(position); }
    void Repaint() override { m_view.Repaint(); }
    void CloseStage() override { m_view.CloseStage(); }
    void LaunchBrowser(const std::string& address) override { m_owner.LaunchBrowser(address); }
    void RegisterNewServer(const std::string& address) override
    {
        m_owner.m_bClosingAfterRegistration = true;
        m_view.RegisterNewServer(address);
    }
    void CloseProgram() override { m_owner.RunClose(); }

private:
    WindowCommands& m_owner;
    MainWindowView& m_view;
    bool m_bWaitCursor = false;
};

struct WindowCommands::PendingMessage {
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;

    // True once for the window's thread when the message is still wanted.
    bool Claim()
    {
        std::lock_guard<std::mutex> guard(lock);
        return !finished;
    }
    void Finish()
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
        changed.notify_all();
    }
    void Wait()
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return finished; });
    }
};

WindowCommands::WindowCommands(WindowCommandsSetup setup)
    : m_setup(std::move(setup)), m_view(*m_setup.view), m_self(std::make_shared<WindowCommands*>(this))
{}

WindowCommands::~WindowCommands()
{
    m_self.reset();
    // A message the check still waits for will never be shown now.
    {
        std::lock_guard<std::mutex> guard(m_messageLock);
        m_bMessagesCancelled = true;
        if (m_pendingMessage) m_pendingMessage->Finish();
    }
    if (m_pStartupCheck) {
        // A window that goes without its close routine still ends the check.
        m_setup.engine->RequestStop();
        m_pStartupCheck->Join();
    }
    // The installer's run leaves its logfile without the closing line: the
    // installer reads it as the program left it.
    if (m_setup.inkwellMode) m_setup.engine->ReleaseLogfile();
}

MsgAnswer WindowCommands::ShowBoxWithHelp(int id, int help)
{
    const ScopedHelp topic(m_setup.help, help);
    const BoxStyle* style = FindBoxStyle(id);
    return style ? m_view.ShowBox(*style) : m_view.ShowBox(BoxStyle{id, MsgButtons::Ok, MsgIcon::None, 0});
}

bool WindowCommands::ReadRow(int row, std::string& serial, std::string& address) const
{
    if (row < 0 || row >= m_view.RowCount()) return false;
    return m_view.RowTexts(row, serial, address);
}

void WindowCommands::OnServerListClick()
{
    SharedState& shared = m_setup.engine->Shared();
    if (m_bCommandRunning || m_bClosing || shared.awaitingFirstServer.load()) return;
    m_view.EnableAddressInputs(true);
    std::string serial, address;
    bool selected;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        selected = ReadRow(m_view.FirstSelectedRow(), serial, address);
    }
    if (selected) ShowSelectedServer(serial, address);
}

void WindowCommands::OnServerListKeyDown(ListKey key)
{
    if (key == ListKey::Other) return;
    SharedState& shared = m_setup.engine->Shared();
    if (m_bCommandRunning || m_bClosing || shared.awaitingFirstServer.load()) return;
    m_view.EnableAddressInputs(true);
    std::string serial, address;
    bool selected = false;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        const int n = m_view.RowCount();
        const int s = m_view.FirstSelectedRow();
        if (s >= 0) {
            int target = s;
            switch (key) {
            case ListKey::End:
                target = n - 1;
                break;
            case ListKey::Home:
                target = 0;
                break;
            case ListKey::Up:
                target = std::max(s - 1, 0);
                break;
            default:
                target = std::min(s + 1, n - 1);
                break;
            }
            selected = ReadRow(target, serial, address);
        }
    }
    if (selected) ShowSelectedServer(serial, address);
}

void WindowCommands::ShowSelectedServer(const std::string& serial, const std::string& address)
{
    m_view.SetStatusText(std::string(TextOf(IDS_SELECTED_SERVER)) + serial);
    m_view.SetAddress(ProposeAddress(address, m_setup.hostOctets, m_setup.inkwellMode));
}

void WindowCommands::OnSetIpAddress()
{
    // One command at a time, and none once the window is closing.
    if (m_bCommandRunning || m_bClosing) return;
    m_bCommandRunning = true;
    m_view.LockInput(true);
    {
        FrontEnd frontEnd(*this);
        SetIpCommand command(SetIpContext{m_setup.engine->Shared(), frontEnd, m_view.WindowClock(),
                                          m_setup.commands ? *m_setup.commands : HiddenCommands(), m_setup.help,
                                          m_setup.inkwellMode, m_setup.startIcmpProbe});
        command.OnSetIpAddress();
    }
    m_bCommandRunning = false;
    // After a registration the close routine has run and the window ended;
    // a close asked for meanwhile runs now, the window still locked.
    if (m_bClosing) return;
    if (m_bClosePending) {
        RunClose();
        return;
    }
    m_view.LockInput(false);
}

bool WindowCommands::LaunchBrowser(const std::string& host)
{
    const bool opened = m_view.OpenUrl("http://" + host + "/");
    if (!opened) ShowBoxWithHelp(IDS_BROWSER_FAILED, kHelpBrowserFailed);
    return opened;
}

void WindowCommands::OnHomePageOfSelected()
{
    if (m_bCommandRunning || m_bClosing) return;
    SharedState& shared = m_setup.engine->Shared();
    std::string serial, address;
    int refusal = 0;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        if (shared.awaitingFirstServer.load())
            refusal = IDS_WAIT_FOR_SERVER;
        else if (!ReadRow(m_view.FirstSelectedRow(), serial, address))
            refusal = IDS_HOME_NO_SERVER;
    }
    if (refusal) {
        ShowBoxWithHelp(refusal, kHelpHomeNoServer);
        return;
    }
    if (address == kNoAddress) {
        ShowBoxWithHelp(IDS_HOME_NO_ADDRESS, kHelpHomeNoAddress);
        return;
    }
    LaunchBrowser(address);
}

void WindowCommands::OnMerrowHomePage()
{
    if (m_bCommandRunning || m_bClosing) return;
    LaunchBrowser(kMakerWebHost);
}

void WindowCommands::OnClose()
{
    if (m_bClosing) return;
    if (m_bCommandRunning) {
        m_bClosePending = true;
        return;
    }
    RunClose();
}

void WindowCommands::RunClose()
{
    if (m_bClosing) return;
    m_bClosing = true;
    m_view.LockInput(true);
    EngineHost& engine = *m_setup.engine;
    Clock& clock = m_view.WindowClock();
    m_view.EnableCloseButton(false);
    const bool notice = !m_setup.inkwellMode;
    if (notice) m_view.OpenShutdownNotice();
    m_view.SetWaitCursor(true);
    engine.RequestStop();
    // A fixed wait that gives the threads the time to see the stop; the
    // window paints meanwhile.
    const int steps = notice ? kCloseSteps : kCloseStepsInkwell;
    for (int i = 1; i <= steps; ++i) {
        if (notice && i == kAnimationStopsBeforeStep) m_view.StopAnimation();
        clock.SleepMs(kCloseStepMs);
    }
    // Wake the network thread and wait for it (bounded), so that its last
    // lines reach the logfile before the closing line and nothing it uses
    // goes while it runs.
    engine.Stop();
    if (notice) {
        engine.CloseLogfile();
        m_view.CloseShutdownNotice();
        clock.SleepMs(kCloseStepMs);
    }
    m_view.SetWaitCursor(false);
    m_view.EndDialog();
}

void WindowCommands::StartStartupCheck()
{
    SharedState& shared = m_setup.engine->Shared();
    EngineHost* engine = m_setup.engine;
    auto networkStart = [&shared, engine] {
        if (shared.stage.load() != StageNetworkFailed) return NetworkStart::Running;
        return engine->Opened() == OpenResult::PortNotPermitted ? NetworkStart::PortNotPermitted
                                                                : NetworkStart::PortInUse;
    };
    // The check's waits are plain sleeps on its own thread.
    Clock& threadClock = m_setup.startupClock ? *m_setup.startupClock : RealClock();
    m_pStartupCheck =
        std::make_unique<StartupCheck>(StartupCheckEnv{shared.stopRequested, shared.awaitingFirstServer, *m_setup.help,
                                                       threadClock, *this, networkStart, m_setup.socketWorks});
    m_pStartupCheck->Start();
}

void WindowCommands::ShowStartupMessage(StartupMessage message)
{
    auto pending = std::make_shared<PendingMessage>();
    {
        std::lock_guard<std::mutex> guard(m_messageLock);
        if (m_bMessagesCancelled) return;
        m_pendingMessage = pending;
    }
    std::weak_ptr<WindowCommands*> self = m_self;
    m_view.Post([self, pending, message] {
        const auto owner = self.lock();
        if (owner && pending->Claim()) (*owner)->ShowStartupBox(message);
        pending->Finish();
    });
    pending->Wait();
    std::lock_guard<std::mutex> guard(m_messageLock);
    if (m_pendingMessage == pending) m_pendingMessage.reset();
}

void WindowCommands::ShowStartupBox(StartupMessage message)
{
    // The check has set the help topic already where the box has one.
    switch (message) {
    case StartupMessage::NoTcpIp:
        ShowBoxWithHelp(IDS_NO_TCPIP, kHelpUnchanged);
        break;
    case StartupMessage::PortInUse:
        ShowBoxWithHelp(IDS_PORT_IN_USE, kHelpUnchanged);
        break;
    case StartupMessage::NoServerYet:
        ShowBoxWithHelp(IDS_RESTART_HINT, kHelpUnchanged);
        break;
    case StartupMessage::PortNotPermitted:
        m_view.ShowTextBox(PortNotPermittedText(), MsgIcon::Stop);
        break;
    }
}

void WindowCommands::CloseProgram()
{
    std::weak_ptr<WindowCommands*> self = m_self;
    m_view.Post([self] {
        if (const auto owner = self.lock()) (*owner)->OnClose();
    });
}

}  // namespace tessel
