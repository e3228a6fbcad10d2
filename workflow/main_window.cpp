#include "workflow/main_window.h"

#include "engine/assignment.h"
#include "engine/bootp_channel.h"
#include "engine/server_table.h"
#include "log/logfile.h"

namespace tessel {
namespace {

// This computer's name and first address; what the environment names wins.
HostIdentity FindHost(const WindowEnvironment& environment)
{
    HostIdentity found;
    if (!environment.hostName || !environment.hostAddress) found = LookUpHost();
    if (environment.hostName) found.name = *environment.hostName;
    if (environment.hostAddress) found.address = *environment.hostAddress;
    return found;
}

}  // namespace

MainWindowLogic::MainWindowLogic(MainWindowView& view, bool inkwellMode, WindowEnvironment environment)
    : m_view(view), m_bInkwellMode(inkwellMode), m_environment(std::move(environment)),
      m_host(WindowHostOf(FindHost(m_environment)))
{}

MainWindowLogic::~MainWindowLogic()
{
    m_pCommands.reset();
    if (m_engine) m_view.FollowServerTable(nullptr);
    m_engine.reset();
}

void MainWindowLogic::ShowStartState()
{
    if (m_bStartStateShown) return;
    m_bStartStateShown = true;
    m_view.EnableAddressInputs(false);
    m_view.SetAddress(HostNetworkAddress(m_host.octets));
    // Only the maker's servers are listed, and every step is logged.
    m_view.SetSwitches(true, true);
    if (m_bInkwellMode) m_view.HideInstallerControls();
}

void MainWindowLogic::Start()
{
    if (m_engine) return;
    m_help.Reset();
    ShowStartState();
    if (!m_bInkwellMode) m_view.StartAnimation();

    // The logfile, and with it the engine: in Inkwell mode the logfile's
    // folder comes from the installer's "Tessel Path". The host fills the
    // shared block whole before any thread runs.
    EngineSetup setup =
        WindowEngineSetup(m_bInkwellMode, m_bInkwellMode ? m_view.ReadTesselPath() : std::nullopt, m_host.identity);
    setup.clock = m_environment.clock;
    if (m_environment.makeChannel) setup.channel = m_environment.makeChannel();
    if (m_environment.makeProcedure) setup.procedure = m_environment.makeProcedure();
    m_engine = std::make_unique<EngineHost>(std::move(setup));
    m_view.FollowServerTable(&m_engine->Table());

    // The installer's run lists every print server.
    if (m_bInkwellMode) m_engine->OnlyMerrow().store(0);

    WindowCommandsSetup commands;
    commands.view = &m_view;
    commands.engine = m_engine.get();
    commands.help = &m_help;
    commands.inkwellMode = m_bInkwellMode;
    commands.hostOctets = m_host.octets;
    commands.startupClock = m_environment.startupClock;
    commands.commands = m_environment.commands;
    commands.startIcmpProbe = m_environment.startIcmpProbe;
    commands.socketWorks = m_environment.socketWorks;
    m_pCommands = std::make_unique<WindowCommands>(std::move(commands));

    // The start-up check first, then the network thread.
    m_pCommands->StartStartupCheck();
    m_engine->Start();
    m_view.FocusServerList();
}

void MainWindowLogic::OnLogfileSwitch(bool on)
{
    if (m_engine) m_engine->Log().SetEnabled(on);
}

void MainWindowLogic::OnOnlyMerrowSwitch(bool on)
{
    if (m_engine) m_engine->OnlyMerrow().store(on ? 1 : 0);
}

}  // namespace tessel
