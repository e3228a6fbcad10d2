#include "app/tesseldlg.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>
#include <QWindow>

#include "app/dialogbuilder.h"
#include "app/helpwindow.h"
#include "app/registryaccess.h"
#include "app/serverlistmodel.h"
#include "app/dataexchange.h"
#include "app/ipaddrctl.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "app/animatectrl.h"
#include "app/dialogitems.h"
#include "resources/dialogs.h"
#include "app/dialogunits.h"
#include "app/images.h"
#include "app/messagebox.h"
#include "resources/resource.h"
#include "app/stringtable.h"
#include "app/mainwindowview.h"

namespace tessel {
namespace {

// The list's two columns, in pixels.
constexpr int kColumnWidth = 140;
// The frames of the clip that the window plays, over and over.
constexpr int kAnimationFirstFrame = 0;
constexpr int kAnimationLastFrame = 14;
constexpr int kRepeatWithoutEnd = -1;
// The caption of the maker's web button, smaller than the dialog font so
// that the host name fits the button's 51 dialog units.
constexpr int kWebButtonFontPoints = 8;

template <typename T>
T* Bind(QWidget* dialog, int id)
{
    return qobject_cast<T*>(GetDlgItem(dialog, id));
}

}  // namespace

CTesselDlg::CTesselDlg(bool inkwellMode, QWidget* parent) : CTesselDlg(inkwellMode, DialogEnvironment{}, parent)
{}

CTesselDlg::CTesselDlg(bool inkwellMode, DialogEnvironment environment, QWidget* parent)
    : QDialog(parent), m_bInkwellMode(inkwellMode), m_environment(std::move(environment))
{
    BuildDialog(*this, MainDialogTemplate());
    BindControls();
    m_hIcon = LoadIcon(IDR_MAINFRAME);
    LookUpThisComputer();

    m_pServerListModel = new CServerListModel(this);
    m_serverList->setModel(m_pServerListModel);
    m_serverList->installEventFilter(this);
    m_serverList->viewport()->installEventFilter(this);

    m_pView = std::make_unique<CMainWindowView>(
        CMainWindowView::Controls{this, m_serverList, m_pIPAddrCtl, m_statusLine, m_step2Text, m_setIpButton,
                                  m_closeButton, m_animation},
        m_environment.clock ? *m_environment.clock : RealClock(), [](const std::string& address) {
            CRegistryAccess().WriteString(QString::fromLatin1(kInkwellKey), kNewServerValue,
                                          QString::fromStdString(address), RegistryRoot::CurrentUser);
        });
    ConnectCommands();
    BuildSystemMenu();
}

CTesselDlg::~CTesselDlg()
{
    // The commands (and the start-up check they wait for) use the engine
    // and the view.
    m_pCommands.reset();
    m_pServerListModel->Detach();
    m_pEngine.reset();
    SetHelpContextSource(nullptr);
}

void CTesselDlg::BindControls()
{
    m_statusLine = Bind<QLineEdit>(this, IDC_STATUS);
    m_setIpButton = Bind<QPushButton>(this, IDC_SET_IP);
    m_homePageButton = Bind<QPushButton>(this, IDC_HOMEPAGE_SELECTED);
    m_closeButton = Bind<QPushButton>(this, IDC_CLOSE);
    m_helpButton = Bind<QPushButton>(this, ID_HELP);
    m_merrowWebButton = Bind<QPushButton>(this, IDC_MERROW_HOMEPAGE);
    m_onlyMerrowCheck = Bind<QCheckBox>(this, IDC_ONLY_MERROW);
    m_logfileCheck = Bind<QCheckBox>(this, IDC_LOGFILE);
    m_step1Text = Bind<QPlainTextEdit>(this, IDC_STEP1_TEXT);
    m_step2Text = Bind<QPlainTextEdit>(this, IDC_STEP2_TEXT);
    m_listeningText = Bind<QPlainTextEdit>(this, IDC_LISTENING);
    m_restartHintText = Bind<QPlainTextEdit>(this, IDC_RESTART_HINT);
    m_serverList = Bind<QTreeView>(this, IDC_SERVER_LIST);
    m_animation = Bind<CAnimateCtrl>(this, IDC_ANIMATION);
    m_pIPAddrCtl = Bind<CIPAddrCtl>(this, IDC_IPADDRESS);

    // The list's columns are 140 pixels, drawn for a narrower face than
    // ours: the semi-condensed cut of the dialog font keeps the start-up
    // note and the addresses whole in them.
    QFont listFont = font();
    listFont.setStretch(QFont::SemiCondensed);
    m_serverList->setFont(listFont);
    // The maker's host name is a small link-like caption under the logo.
    m_merrowWebButton->setFont(DialogFont(kWebButtonFontPoints));
    QPalette link = m_merrowWebButton->palette();
    link.setColor(QPalette::ButtonText, QColor(0x14, 0x3a, 0x63));
    m_merrowWebButton->setPalette(link);
}

// This computer's name and first address; the address and its octets stay
// empty when either cannot be had.
void CTesselDlg::LookUpThisComputer()
{
    HostIdentity found;
    if (!m_environment.hostName || !m_environment.hostAddress) found = LookUpHost();
    if (m_environment.hostName) found.name = *m_environment.hostName;
    if (m_environment.hostAddress) found.address = *m_environment.hostAddress;
    const WindowHost host = WindowHostOf(found);
    m_host = host.identity;
    m_hostOctets = host.octets;
}

void CTesselDlg::ConnectCommands()
{
    // The commands exist once the window has initialised; before that a
    // press does nothing.
    auto command = [this](void (CWindowCommands::*handler)()) {
        return [this, handler] {
            if (m_pCommands) (m_pCommands.get()->*handler)();
        };
    };
    connect(m_setIpButton, &QPushButton::clicked, this, command(&CWindowCommands::OnSetIpAddress));
    connect(m_homePageButton, &QPushButton::clicked, this, command(&CWindowCommands::OnHomePageOfSelected));
    connect(m_merrowWebButton, &QPushButton::clicked, this, command(&CWindowCommands::OnMerrowHomePage));
    connect(m_onlyMerrowCheck, &QCheckBox::clicked, this, &CTesselDlg::OnOnlyMerrow);
    connect(m_logfileCheck, &QCheckBox::clicked, this, &CTesselDlg::OnLogfile);
    connect(m_closeButton, &QPushButton::clicked, this, &CTesselDlg::reject);
    connect(m_helpButton, &QPushButton::clicked, this, &CTesselDlg::OnHelp);

    // F1 without Shift, Ctrl or Alt anywhere in the window; the message
    // boxes take it themselves and ask the same help handler.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::WindowShortcut);
    connect(f1, &QShortcut::activated, this, &CTesselDlg::OnHelp);
    SetHelpContextSource(&m_nHelpContext);
    SetHelpHandler([](int helpContext) { ShowHelp(helpContext); });
    // Alt+Space opens the system menu where no window manager takes it.
    auto* altSpace = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    altSpace->setContext(Qt::WindowShortcut);
    connect(altSpace, &QShortcut::activated, this, [this] { ShowSystemMenu(mapToGlobal(QPoint(0, 0))); });
}

// The system menu as the system gives a dialog with a minimise box.
void CTesselDlg::BuildSystemMenu()
{
    m_pSystemMenu = new QMenu(this);
    const struct {
        int command;
        const char* text;
    } systemItems[] = {{SC_RESTORE, "&Restore"},    {SC_MOVE, "&Move"},         {SC_SIZE, "&Size"},
                       {SC_MINIMIZE, "Mi&nimize"},  {SC_MAXIMIZE, "Ma&ximize"}, {0, nullptr},
                       {SC_CLOSE, "&Close\tAlt+F4"}};
    for (const auto& item : systemItems) {
        if (!item.text) {
            m_pSystemMenu->addSeparator();
            continue;
        }
        QAction* action = m_pSystemMenu->addAction(QString::fromLatin1(item.text));
        action->setData(item.command);
    }
    connect(m_pSystemMenu, &QMenu::triggered, this, [this](QAction* action) { OnSysCommand(action->data().toInt()); });
    connect(m_pSystemMenu, &QMenu::aboutToShow, this, [this] {
        for (QAction* action : m_pSystemMenu->actions()) {
            const int command = action->data().toInt();
            if (command == SC_RESTORE)
                action->setEnabled(isMinimized());
            else if (command == SC_MINIMIZE || command == SC_MOVE)
                action->setEnabled(!isMinimized());
        }
    });
}

bool CTesselDlg::DoDataExchange(CDataExchange& dx)
{
    return DDX_IPAddr(dx, IDC_IPADDRESS, m_address);
}

bool CTesselDlg::UpdateData(bool saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    return DoDataExchange(dx);
}

bool CTesselDlg::OnInitDialog()
{
    UpdateData(false);
    AddAboutItem();
    setWindowIcon(m_hIcon);
    m_nHelpContext.store(kHelpAtRest);
    SetUpTooltips();
    FillTexts();
    // Step 2 waits until a server is picked.
    m_pView->EnableAddressInputs(false);
    // The address proposed at first: this computer's network, ending 0.
    m_pIPAddrCtl->SetAddress(HostNetworkAddress(m_hostOctets).data());
    SetUpServerList();
    RemoveSizeItems();
    StartAnimation();
    // Only the maker's servers are listed.
    m_onlyMerrowCheck->setChecked(true);
    StartEngine();
    HideInstallerControls();
    MakeCommands();
    // The start-up check first, then the network thread.
    m_pCommands->StartStartupCheck();
    m_pEngine->Start();
    m_serverList->setFocus();
    return true;
}

// The About item closes the system menu, after a separator.
void CTesselDlg::AddAboutItem()
{
    const QString about = LoadString(IDS_ABOUTBOX);
    if (about.isEmpty()) return;
    m_pSystemMenu->addSeparator();
    m_pSystemMenu->addAction(about)->setData(IDM_ABOUTBOX);
}

void CTesselDlg::FillTexts()
{
    SetWindowText(m_step1Text, LoadString(IDS_TEXT_STEP1));
    SetWindowText(m_step2Text, LoadString(IDS_TEXT_STEP2));
    SetWindowText(m_statusLine, LoadString(IDS_NO_SERVER_SELECTED));
    SetWindowText(m_listeningText, LoadString(IDS_TEXT_LISTENING));
    SetWindowText(m_restartHintText, LoadString(IDS_TEXT_RESTART_HINT));
}

// The list's columns. Its rows mirror the engine's server table, which
// begins with the blank row that heads the scan.
void CTesselDlg::SetUpServerList()
{
    m_pServerListModel->SetHeader(0, LoadString(IDS_COLUMN_SERIAL));
    m_pServerListModel->SetHeader(1, LoadString(IDS_COLUMN_ADDRESS));
    for (int column = 0; column < 2; ++column) m_serverList->header()->resizeSection(column, kColumnWidth);
}

// The window keeps its size: no size or maximise item.
void CTesselDlg::RemoveSizeItems()
{
    for (QAction* action : m_pSystemMenu->actions()) {
        const int command = action->data().toInt();
        if (command == SC_SIZE || command == SC_MAXIMIZE) m_pSystemMenu->removeAction(action);
    }
}

// The animation plays except for the installer.
void CTesselDlg::StartAnimation()
{
    if (!m_bInkwellMode && m_animation->Open(IDR_ANIMATION))
        m_animation->Play(kAnimationFirstFrame, kAnimationLastFrame, kRepeatWithoutEnd);
}

// The logfile, and with it the engine: in Inkwell mode the logfile's folder
// comes from the installer's "Tessel Path". The host fills the shared block
// whole before any thread runs.
void CTesselDlg::StartEngine()
{
    m_logfileCheck->setChecked(true);
    std::optional<std::string> tesselPath;
    if (m_bInkwellMode) {
        QString path;
        if (CRegistryAccess().ReadString(QString::fromLatin1(kInkwellKey), kTesselPathValue, &path,
                                         RegistryRoot::LocalMachine))
            tesselPath = path.toStdString();
    }
    EngineSetup setup = WindowEngineSetup(m_bInkwellMode, tesselPath, m_host, this, &m_nHelpContext);
    setup.clock = m_environment.clock;
    if (m_environment.makeChannel) setup.channel = m_environment.makeChannel();
    if (m_environment.makeProcedure) setup.procedure = m_environment.makeProcedure();
    m_pEngine = std::make_unique<EngineHost>(std::move(setup));
    m_pServerListModel->Attach(m_pEngine->Table());
}

// The installer's run: no web buttons, no logfile switch, and every print
// server is listed.
void CTesselDlg::HideInstallerControls()
{
    if (!m_bInkwellMode) return;
    const std::initializer_list<QWidget*> controls{m_merrowWebButton, m_homePageButton, m_logfileCheck,
                                                   m_onlyMerrowCheck};
    for (QWidget* control : controls) control->setEnabled(false);
    for (QWidget* control : controls) control->setVisible(false);
    m_pEngine->OnlyMerrow().store(0);
}

void CTesselDlg::MakeCommands()
{
    WindowCommandsSetup setup;
    setup.view = m_pView.get();
    setup.engine = m_pEngine.get();
    setup.helpContext = &m_nHelpContext;
    setup.inkwellMode = m_bInkwellMode;
    setup.hostOctets = m_hostOctets;
    setup.commands = m_environment.commands;
    setup.startIcmpProbe = m_environment.startIcmpProbe;
    m_pCommands = std::make_unique<CWindowCommands>(std::move(setup));
}

void CTesselDlg::showEvent(QShowEvent* event)
{
    // Before the window is first painted, as a dialog is initialised.
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CTesselDlg::SetUpTooltips()
{
    for (const ControlTooltip& tip : MainDialogTooltips()) {
        if (QWidget* control = GetDlgItem(this, tip.id)) control->setToolTip(QString::fromUtf8(tip.text));
    }
}

void CTesselDlg::OnOnlyMerrow()
{
    if (m_pEngine) m_pEngine->OnlyMerrow().store(m_onlyMerrowCheck->isChecked() ? 1 : 0);
}

void CTesselDlg::OnLogfile()
{
    if (m_pEngine) m_pEngine->Log().SetEnabled(m_logfileCheck->isChecked());
}

void CTesselDlg::OnHelp()
{
    ShowHelp(m_nHelpContext.load());
}

void CTesselDlg::OnSysCommand(int command)
{
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.exec();
        return;
    }
    switch (command) {
    case SC_RESTORE:
        showNormal();
        break;
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_MOVE:
        if (windowHandle()) windowHandle()->startSystemMove();
        break;
    case SC_CLOSE:
        reject();
        break;
    default:
        break;
    }
}

void CTesselDlg::ShowSystemMenu(const QPoint& at)
{
    m_pSystemMenu->popup(at);
}

void CTesselDlg::contextMenuEvent(QContextMenuEvent* event)
{
    // The window manager's own menu cannot take the About item, so the
    // window's background offers the system menu as well.
    ShowSystemMenu(event->globalPos());
}

namespace {

ListKey ListKeyOf(int key)
{
    switch (key) {
    case Qt::Key_Home:
        return ListKey::Home;
    case Qt::Key_End:
        return ListKey::End;
    case Qt::Key_Up:
        return ListKey::Up;
    case Qt::Key_Down:
        return ListKey::Down;
    default:
        return ListKey::Other;
    }
}

}  // namespace

bool CTesselDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (m_pCommands && watched == m_serverList && event->type() == QEvent::KeyPress) {
        m_pCommands->OnServerListKeyDown(ListKeyOf(static_cast<QKeyEvent*>(event)->key()));
    } else if (m_pCommands && watched == m_serverList->viewport() && event->type() == QEvent::MouseButtonRelease) {
        // Only the primary button picks a row, as a click on the list does.
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) m_pCommands->OnServerListClick();
    }
    return QDialog::eventFilter(watched, event);
}

void CTesselDlg::reject()
{
    if (m_pCommands) {
        m_pCommands->OnClose();
        return;
    }
    // Closed before it initialised: nothing runs yet.
    done(QDialog::Rejected);
}

void CTesselDlg::CloseProgram()
{
    if (m_pCommands) m_pCommands->CloseProgram();
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    BuildDialog(*this, AboutBoxTemplate());
    if (auto* ok = qobject_cast<QPushButton*>(GetDlgItem(this, IDC_ABOUT_OK)))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tessel
