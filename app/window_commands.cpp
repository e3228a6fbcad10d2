#include "app/window_commands.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QLineEdit>

#include <algorithm>
#include <cstdlib>

#include "app/ipaddrctl.h"
#include "engine/engine_host.h"
#include "engine/network_thread.h"
#include "engine/shared_state.h"
#include "platform/privileges.h"
#include "platform/system_commands.h"
#include "app/animatectrl.h"
#include "resources/dialogs.h"
#include "app/messagebox.h"
#include "app/stringtable.h"
#include "resources/texts.h"
#include "app/progress_windows.h"
#include "workflow/set_ip_command.h"
#include "app/window_front_end.h"

namespace tessel {
namespace {

UrlOpener& Opener()
{
    static UrlOpener opener;
    return opener;
}

// The message of a port 67 that this program may not take: there is no
// other program to close, the user must start this one differently. The
// advice is the one tessel-cli gives: each capability, what it is for, and
// the setcap command for this very program.
std::string PortNotPermittedText()
{
    return "Network startup failed!   \n\n"
           "This program is not permitted to use the BOOTP/DHCP port (UDP 67).\n" +
           CapabilitiesAdvice(RunningProgramPath("tessel")) +
           "\n\n"
           "This program will shut down after pressing OK...   ";
}

// Shows a numbered box with the help topic `help` current (0 leaves the
// topic as it is) and puts topic 1 back afterwards.
MsgAnswer ShowBoxWithHelp(QWidget* owner, std::atomic<int>* helpContext, int id, int help)
{
    if (help && helpContext) helpContext->store(help);
    const BoxStyle* style = FindBoxStyle(id);
    const MsgAnswer answer = style ? ShowMessageBox(owner, id, style->buttons, style->icon, style->defaultButton)
                                   : ShowMessageBox(owner, id);
    if (help && helpContext) helpContext->store(kHelpAtRest);
    return answer;
}

// Decimal text to an integer up to the first non-digit, as the system's
// string conversion does; its low eight bits.
std::uint8_t LowByteOf(const std::string& text)
{
    return static_cast<std::uint8_t>(std::atoi(text.c_str()) & 0xFF);
}

}  // namespace

void SetUrlOpener(UrlOpener opener)
{
    Opener() = std::move(opener);
}

Ipv4Bytes ProposeAddress(const std::string& address, const std::array<std::string, 3>& hostOctets,
                         bool inkwellMode)
{
    const std::uint8_t host1 = LowByteOf(hostOctets[0]), host2 = LowByteOf(hostOctets[1]),
                       host3 = LowByteOf(hostOctets[2]);
    if (address == kNoAddress || address == kFactoryDefaultAddress) return {host1, host2, host3, 0};
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
        bytes[0] = host1;
        bytes[1] = host2;
    }
    return bytes;
}

struct CWindowCommands::PendingMessage {
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

CWindowCommands::CWindowCommands(WindowCommandParts parts)
    : m_parts(std::move(parts)), m_clock(m_parts.clock ? *m_parts.clock : RealClock())
{
}

CWindowCommands::~CWindowCommands()
{
    // A message the check still waits for will never be shown now.
    {
        std::lock_guard<std::mutex> guard(m_messageLock);
        m_bMessagesCancelled = true;
        if (m_pendingMessage) m_pendingMessage->Finish();
    }
    if (m_pStartupCheck) {
        // A window that goes without its close routine still ends the check.
        m_parts.engine->RequestStop();
        m_pStartupCheck->Join();
    }
}

bool CWindowCommands::ReadRow(int row, QString& serial, QString& address) const
{
    const QAbstractItemModel* model = m_parts.list ? m_parts.list->model() : nullptr;
    if (!model || row < 0 || row >= model->rowCount()) return false;
    serial = model->index(row, 0).data().toString();
    address = model->index(row, 1).data().toString();
    return true;
}

void CWindowCommands::OnServerListClick()
{
    SharedState& shared = m_parts.engine->Shared();
    if (shared.awaitingFirstServer.load()) return;
    m_parts.enableAddressInputs(true);
    QString serial, address;
    bool selected;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        selected = ReadRow(FirstSelectedRow(*m_parts.list), serial, address);
    }
    if (selected) ShowSelectedServer(serial, address);
}

void CWindowCommands::OnServerListKeyDown(int key)
{
    if (key != Qt::Key_End && key != Qt::Key_Home && key != Qt::Key_Up && key != Qt::Key_Down) return;
    SharedState& shared = m_parts.engine->Shared();
    if (shared.awaitingFirstServer.load()) return;
    m_parts.enableAddressInputs(true);
    QString serial, address;
    bool selected = false;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        const int n = m_parts.list->model() ? m_parts.list->model()->rowCount() : 0;
        const int s = FirstSelectedRow(*m_parts.list);
        if (s >= 0) {
            int target = s;
            switch (key) {
            case Qt::Key_End: target = n - 1; break;
            case Qt::Key_Home: target = 0; break;
            case Qt::Key_Up: target = std::max(s - 1, 0); break;
            default: target = std::min(s + 1, n - 1); break;
            }
            selected = ReadRow(target, serial, address);
        }
    }
    if (selected) ShowSelectedServer(serial, address);
}

void CWindowCommands::ShowSelectedServer(const QString& serial, const QString& address)
{
    if (m_parts.statusLine) m_parts.statusLine->setText(LoadString(IDS_SELECTED_SERVER) + serial);
    const Ipv4Bytes bytes = ProposeAddress(address.toStdString(), m_parts.hostOctets, m_parts.inkwellMode);
    if (m_parts.address) m_parts.address->SetAddress(bytes.data());
}

void CWindowCommands::OnSetIpAddress()
{
    // One command at a time, and none once the window is closing.
    if (m_bCommandRunning || m_bClosing) return;
    m_bCommandRunning = true;
    CWindowSetIpFrontEnd frontEnd({m_parts.window, m_parts.address, m_parts.list,
                                   [this](const std::string& a) { LaunchBrowser(QString::fromStdString(a)); },
                                   m_parts.registerNewServer, [this] { RunClose(); }});
    m_pFrontEnd = &frontEnd;
    CSetIpCommand command(SetIpContext{m_parts.engine->Shared(), frontEnd, m_clock,
                                       m_parts.commands ? *m_parts.commands : HiddenCommands(),
                                       *m_parts.helpContext, m_parts.inkwellMode, m_parts.startIcmpProbe});
    command.OnSetIpAddress();
    m_pFrontEnd = nullptr;
    m_bCommandRunning = false;
    // After a registration the window has already ended.
    if (m_bClosePending && !command.ClosingAfterRegistration()) OnClose();
}

bool CWindowCommands::LaunchBrowser(const QString& host)
{
    const QUrl url(QStringLiteral("http://") + host + QStringLiteral("/"));
    const bool opened = Opener() ? Opener()(url) : QDesktopServices::openUrl(url);
    if (!opened) ShowBoxWithHelp(m_parts.window, m_parts.helpContext, IDS_BROWSER_FAILED, kHelpBrowserFailed);
    return opened;
}

void CWindowCommands::OnHomePageOfSelected()
{
    SharedState& shared = m_parts.engine->Shared();
    QString serial, address;
    int refusal = 0;
    {
        std::lock_guard<std::mutex> guard(shared.stateLock);
        if (shared.awaitingFirstServer.load())
            refusal = IDS_WAIT_FOR_SERVER;
        else if (!ReadRow(FirstSelectedRow(*m_parts.list), serial, address))
            refusal = IDS_HOME_NO_SERVER;
    }
    if (refusal) {
        ShowBoxWithHelp(m_parts.window, m_parts.helpContext, refusal, kHelpHomeNoServer);
        return;
    }
    if (address == QLatin1String(kNoAddress)) {
        ShowBoxWithHelp(m_parts.window, m_parts.helpContext, IDS_HOME_NO_ADDRESS, kHelpHomeNoAddress);
        return;
    }
    LaunchBrowser(address);
}

void CWindowCommands::OnMerrowHomePage()
{
    LaunchBrowser(QString::fromLatin1(kMakerWebHost));
}

void CWindowCommands::OnClose()
{
    if (m_bClosing) return;
    if (m_bCommandRunning) {
        m_bClosePending = true;
        return;
    }
    RunClose();
}

void CWindowCommands::RunClose()
{
    if (m_bClosing) return;
    m_bClosing = true;
    EngineHost& engine = *m_parts.engine;
    if (m_parts.closeButton) m_parts.closeButton->setEnabled(false);
    const bool notice = !m_parts.inkwellMode;
    if (notice) {
        m_pNotice = std::make_unique<CProgressWindow>(ShutdownNoticeTemplate(), m_parts.window);
        m_pNotice->ShowNow();
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    engine.RequestStop();
    // A fixed wait that gives the threads the time to see the stop; the
    // window paints meanwhile.
    const int steps = notice ? kCloseSteps : kCloseStepsInkwell;
    for (int i = 1; i <= steps; ++i) {
        if (notice && i == kAnimationStopsBeforeStep && m_parts.animation) {
            m_parts.animation->Stop();
            m_parts.animation->Close();
        }
        m_clock.sleepMs(kCloseStepMs);
    }
    // Wake the network thread and wait for it (bounded), so that its last
    // lines reach the logfile before the closing line and nothing it uses
    // goes while it runs.
    engine.Stop();
    if (notice) {
        engine.CloseLogfile();
        m_pNotice->close();
        m_pNotice.reset();
        m_clock.sleepMs(kCloseStepMs);
    }
    QApplication::restoreOverrideCursor();
    if (m_parts.endDialog) m_parts.endDialog();
}

void CWindowCommands::StartStartupCheck()
{
    SharedState& shared = m_parts.engine->Shared();
    EngineHost* engine = m_parts.engine;
    auto networkStart = [&shared, engine] {
        if (shared.stage.load() != StageNetworkFailed) return NetworkStart::Running;
        return engine->Opened() == OpenResult::PortNotPermitted ? NetworkStart::PortNotPermitted
                                                                : NetworkStart::PortInUse;
    };
    // The check's waits are plain sleeps on its own thread.
    tessel::Clock& threadClock = m_parts.startupClock ? *m_parts.startupClock : RealClock();
    m_pStartupCheck = std::make_unique<StartupCheck>(StartupCheckEnv{
        shared.stopRequested, shared.awaitingFirstServer, *m_parts.helpContext, threadClock, *this,
        networkStart, m_parts.socketWorks});
    m_pStartupCheck->Start();
}

void CWindowCommands::ShowStartupMessage(StartupMessage message)
{
    auto pending = std::make_shared<PendingMessage>();
    {
        std::lock_guard<std::mutex> guard(m_messageLock);
        if (m_bMessagesCancelled) return;
        m_pendingMessage = pending;
    }
    QMetaObject::invokeMethod(
        &m_context,
        [this, pending, message] {
            if (pending->Claim()) ShowStartupBox(message);
            pending->Finish();
        },
        Qt::QueuedConnection);
    pending->Wait();
    std::lock_guard<std::mutex> guard(m_messageLock);
    if (m_pendingMessage == pending) m_pendingMessage.reset();
}

void CWindowCommands::ShowStartupBox(StartupMessage message)
{
    // The check has set the help topic already where the box has one.
    switch (message) {
    case StartupMessage::NoTcpIp: ShowBoxWithHelp(m_parts.window, nullptr, IDS_NO_TCPIP, 0); break;
    case StartupMessage::PortInUse: ShowBoxWithHelp(m_parts.window, nullptr, IDS_PORT_IN_USE, 0); break;
    case StartupMessage::NoServerYet: ShowBoxWithHelp(m_parts.window, nullptr, IDS_RESTART_HINT, 0); break;
    case StartupMessage::PortNotPermitted: {
        MessageBoxRequest request;
        request.owner = m_parts.window;
        request.text = QString::fromStdString(PortNotPermittedText());
        request.icon = MsgIcon::Stop;
        ShowMessageBox(std::move(request));
        break;
    }
    }
}

void CWindowCommands::CloseProgram()
{
    QMetaObject::invokeMethod(&m_context, [this] { OnClose(); }, Qt::QueuedConnection);
}

}  // namespace tessel
