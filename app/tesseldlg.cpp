#include "app/tesseldlg.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
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
#include "app/window_commands.h"

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

// A decimal octet as the window keeps it; text that is empty or no number
// counts as 0.
std::uint8_t OctetOf(const std::string& text)
{
    bool ok = false;
    const int value = QString::fromStdString(text).toInt(&ok);
    return ok ? static_cast<std::uint8_t>(value & 0xFF) : 0;
}

template <typename T>
T* Bind(QWidget* dialog, int id)
{
    return qobject_cast<T*>(GetDlgItem(dialog, id));
}

}  // namespace

CTesselDlg::CTesselDlg(bool inkwellMode, QWidget* parent) : CTesselDlg(inkwellMode, DialogEnvironment{}, parent) {}

CTesselDlg::CTesselDlg(bool inkwellMode, DialogEnvironment environment, QWidget* parent)
    : QDialog(parent), m_bInkwellMode(inkwellMode), m_environment(std::move(environment))
{
    BuildDialog(*this, MainDialogTemplate());
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

    m_hIcon = LoadIcon(IDR_MAINFRAME);

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

    // This computer's name and first address; the octets stay empty when
    // either cannot be had.
    HostIdentity host;
    if (!m_environment.hostName || !m_environment.hostAddress)
        host = LookUpHost();
    const std::string name = m_environment.hostName.value_or(host.name).substr(0, kHostNameMax);
    std::copy(name.begin(), name.end(), m_szHostName.begin());
    const std::string address = m_environment.hostAddress.value_or(host.address);
    if (!name.empty() && !address.empty()) {
        const QStringList octets = QString::fromStdString(address).split(QLatin1Char('.'));
        if (octets.size() == 4) {
            m_strHostOctet1 = octets[0].toStdString();
            m_strHostOctet2 = octets[1].toStdString();
            m_strHostOctet3 = octets[2].toStdString();
            m_strHostAddress = address;
        }
    }

    m_pServerListModel = new CServerListModel(this);
    m_serverList->setModel(m_pServerListModel);
    m_serverList->installEventFilter(this);
    m_serverList->viewport()->installEventFilter(this);

    connect(m_setIpButton, &QPushButton::clicked, this, [this] { OnSetIpAddress(); });
    connect(m_homePageButton, &QPushButton::clicked, this, [this] { OnHomePageOfSelected(); });
    connect(m_merrowWebButton, &QPushButton::clicked, this, [this] { OnMerrowHomePage(); });
    connect(m_onlyMerrowCheck, &QCheckBox::clicked, this, [this] { OnOnlyMerrow(); });
    connect(m_logfileCheck, &QCheckBox::clicked, this, &CTesselDlg::OnLogfile);
    connect(m_closeButton, &QPushButton::clicked, this, &CTesselDlg::reject);
    connect(m_helpButton, &QPushButton::clicked, this, &CTesselDlg::OnHelp);

    // F1 without Shift, Ctrl or Alt anywhere in the window; the message
    // boxes take it themselves and ask the same help handler.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::WindowShortcut);
    connect(f1, &QShortcut::activated, this, &CTesselDlg::OnHelp);
    SetHelpContextSource(&m_nHelpContext);
    // Alt+Space opens the system menu where no window manager takes it.
    auto* altSpace = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    altSpace->setContext(Qt::WindowShortcut);
    connect(altSpace, &QShortcut::activated, this, [this] { ShowSystemMenu(mapToGlobal(QPoint(0, 0))); });
    SetHelpHandler([](int helpContext) { ShowHelp(helpContext); });

    // The system menu as the system gives a dialog with a minimise box.
    m_pSystemMenu = new QMenu(this);
    const struct {
        int command;
        const char* text;
    } systemItems[] = {{SC_RESTORE, "&Restore"}, {SC_MOVE, "&Move"},       {0xF000, "&Size"},
                       {SC_MINIMIZE, "Mi&nimize"}, {0xF030, "Ma&ximize"}, {0, nullptr},
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

CTesselDlg::~CTesselDlg()
{
    // The commands (and the start-up check they wait for) use the engine.
    m_pCommands.reset();
    m_pServerListModel->Detach();
    m_pEngine.reset();
    SetHelpContextSource(nullptr);
}

bool CTesselDlg::DoDataExchange(CDataExchange& dx)
{
    if (!m_pIPAddrCtl)
        m_pIPAddrCtl = qobject_cast<CIPAddrCtl*>(GetDlgItem(this, IDC_IPADDRESS));
    // The control's four fields, first field in the high byte.
    std::array<std::uint8_t, 4> bytes{
        static_cast<std::uint8_t>(m_dwIPAddress >> 24), static_cast<std::uint8_t>(m_dwIPAddress >> 16),
        static_cast<std::uint8_t>(m_dwIPAddress >> 8), static_cast<std::uint8_t>(m_dwIPAddress)};
    if (!DDX_IPAddr(dx, IDC_IPADDRESS, bytes))
        return false;
    if (dx.m_bSaveAndValidate)
        m_dwIPAddress = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                        (std::uint32_t{bytes[2]} << 8) | bytes[3];
    return true;
}

bool CTesselDlg::UpdateData(bool saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    return DoDataExchange(dx);
}

bool CTesselDlg::OnInitDialog()
{
    // 1. The controls exist; the address goes to its control.
    UpdateData(false);

    // 2. The About item closes the system menu, after a separator.
    const QString about = LoadString(IDS_ABOUTBOX);
    if (!about.isEmpty()) {
        m_pSystemMenu->addSeparator();
        m_pSystemMenu->addAction(about)->setData(IDM_ABOUTBOX);
    }

    // 3. The icon, large and small.
    setWindowIcon(m_hIcon);

    // 4. Help at rest; tooltips on.
    m_nHelpContext.store(1);
    SetUpTooltips();

    // 5. The read-only texts.
    SetWindowText(m_step1Text, LoadString(IDS_TEXT_STEP1));
    SetWindowText(m_step2Text, LoadString(IDS_TEXT_STEP2));
    SetWindowText(m_statusLine, LoadString(IDS_NO_SERVER_SELECTED));
    SetWindowText(m_listeningText, LoadString(IDS_TEXT_LISTENING));
    SetWindowText(m_restartHintText, LoadString(IDS_TEXT_RESTART_HINT));

    // 6. Step 2 waits until a server is picked.
    EnableAddressInputs(false);

    // 7. The address proposed at first: this computer's network, ending 0.
    const std::array<std::uint8_t, 4> preset{OctetOf(m_strHostOctet1), OctetOf(m_strHostOctet2),
                                             OctetOf(m_strHostOctet3), 0};
    if (m_pIPAddrCtl)
        m_pIPAddrCtl->SendMessage(IPAM_SETADDRESS, 0, reinterpret_cast<std::intptr_t>(preset.data()));

    // 8. The list's columns. Its rows mirror the engine's server table,
    // which begins with the blank row that heads the scan (step 12).
    m_pServerListModel->SetHeader(0, LoadString(IDS_COLUMN_SERIAL));
    m_pServerListModel->SetHeader(1, LoadString(IDS_COLUMN_ADDRESS));
    for (int column = 0; column < 2; ++column)
        m_serverList->header()->resizeSection(column, kColumnWidth);

    // 9. The window keeps its size: no size or maximise item.
    for (QAction* action : m_pSystemMenu->actions()) {
        const int command = action->data().toInt();
        if (command == 0xF000 || command == 0xF030)
            m_pSystemMenu->removeAction(action);
    }

    // 10. The animation, except for the installer.
    if (!m_bInkwellMode && m_animation->Open(IDR_ANIMATION))
        m_animation->Play(kAnimationFirstFrame, kAnimationLastFrame, kRepeatWithoutEnd);

    // 11. Only the maker's servers are listed.
    m_onlyMerrowCheck->setChecked(true);

    // 12. The logfile, and with it the engine: in Inkwell mode its folder
    // comes from the installer's "Tessel Path".
    m_logfileCheck->setChecked(true);
    std::optional<std::string> tesselPath;
    if (m_bInkwellMode) {
        QString path;
        if (CRegistryAccess().ReadString(QString::fromLatin1(kInkwellKey), kTesselPathValue, &path,
                                         RegistryRoot::LocalMachine))
            tesselPath = path.toStdString();
    }
    const LogfileLocation location = ChooseLogfileLocation(m_bInkwellMode, tesselPath);
    EngineSetup setup;
    setup.logfile = std::make_unique<CLogfile>(location.folder, location.fileName);
    setup.printServersOnly = m_bInkwellMode;
    setup.onlyMaker = true;
    setup.hostName = m_szHostName.data();
    setup.hostAddress = m_strHostAddress;
    setup.owner = this;
    setup.helpContext = &m_nHelpContext;
    setup.clock = m_environment.clock;
    if (m_environment.makeChannel)
        setup.channel = m_environment.makeChannel();
    if (m_environment.makeProcedure)
        setup.procedure = m_environment.makeProcedure();
    // 14, 15. The host fills the shared block whole before any thread runs.
    m_pEngine = std::make_unique<EngineHost>(std::move(setup));
    m_pServerListModel->Attach(m_pEngine->Table());

    // 13. The installer's run: no web buttons, no logfile switch, and every
    // print server is listed.
    if (m_bInkwellMode) {
        for (QWidget* control : std::initializer_list<QWidget*>{m_merrowWebButton, m_homePageButton,
                                                                m_logfileCheck, m_onlyMerrowCheck})
            control->setEnabled(false);
        for (QWidget* control : std::initializer_list<QWidget*>{m_merrowWebButton, m_homePageButton,
                                                                m_logfileCheck, m_onlyMerrowCheck})
            control->setVisible(false);
        m_pEngine->OnlyMerrow().store(0);
    }

    WindowCommandParts parts;
    parts.window = this;
    parts.list = m_serverList;
    parts.address = m_pIPAddrCtl;
    parts.statusLine = m_statusLine;
    parts.closeButton = m_closeButton;
    parts.animation = m_animation;
    parts.engine = m_pEngine.get();
    parts.helpContext = &m_nHelpContext;
    parts.inkwellMode = m_bInkwellMode;
    parts.hostOctets = {m_strHostOctet1, m_strHostOctet2, m_strHostOctet3};
    parts.clock = m_environment.clock;
    parts.commands = m_environment.commands;
    parts.startIcmpProbe = m_environment.startIcmpProbe;
    parts.enableAddressInputs = [this](bool enable) { EnableAddressInputs(enable); };
    parts.registerNewServer = [this](const std::string& address) {
        m_bClosingAfterRegistration = true;
        CRegistryAccess().WriteString(QString::fromLatin1(kInkwellKey), kNewServerValue,
                                      QString::fromStdString(address), RegistryRoot::CurrentUser);
    };
    parts.endDialog = [this] { done(QDialog::Rejected); };
    m_pCommands = std::make_unique<CWindowCommands>(std::move(parts));

    // 16. The start-up check first, then the network thread.
    StartStartupCheck();
    m_pEngine->Start();

    m_serverList->setFocus();
    return true;
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
        QWidget* control = tip.id == IDC_IPADDRESS ? m_pIPAddrCtl : GetDlgItem(this, tip.id);
        if (!control)
            continue;
        control->setToolTip(QString::fromUtf8(tip.text));
    }
}

void CTesselDlg::EnableAddressInputs(bool enable)
{
    m_step2Text->setEnabled(enable);
    if (m_pIPAddrCtl)
        m_pIPAddrCtl->setEnabled(enable);
    m_setIpButton->setEnabled(enable);
}

void CTesselDlg::OnOnlyMerrow()
{
    if (m_pEngine)
        m_pEngine->OnlyMerrow().store(m_onlyMerrowCheck->isChecked() ? 1 : 0);
}

void CTesselDlg::OnLogfile()
{
    if (m_pEngine)
        m_pEngine->Log().SetEnabled(m_logfileCheck->isChecked());
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
        if (windowHandle())
            windowHandle()->startSystemMove();
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

bool CTesselDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_serverList && event->type() == QEvent::KeyPress)
        OnServerListKeyDown(static_cast<QKeyEvent*>(event)->key());
    else if (watched == m_serverList->viewport() && event->type() == QEvent::MouseButtonRelease)
        OnServerListClick();
    return QDialog::eventFilter(watched, event);
}

void CTesselDlg::reject()
{
    OnClose();
}

void CTesselDlg::OnClose()
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

void CTesselDlg::OnSetIpAddress()
{
    if (m_pCommands) m_pCommands->OnSetIpAddress();
}

void CTesselDlg::OnServerListClick()
{
    if (m_pCommands) m_pCommands->OnServerListClick();
}

void CTesselDlg::OnServerListKeyDown(int key)
{
    if (m_pCommands) m_pCommands->OnServerListKeyDown(key);
}

void CTesselDlg::ShowSelectedServer(const QString& serial, const QString& address)
{
    if (m_pCommands) m_pCommands->ShowSelectedServer(serial, address);
}

bool CTesselDlg::LaunchBrowser(const QString& host)
{
    return m_pCommands && m_pCommands->LaunchBrowser(host);
}

void CTesselDlg::OnHomePageOfSelected()
{
    if (m_pCommands) m_pCommands->OnHomePageOfSelected();
}

void CTesselDlg::OnMerrowHomePage()
{
    if (m_pCommands) m_pCommands->OnMerrowHomePage();
}

void CTesselDlg::StartStartupCheck()
{
    if (m_pCommands) m_pCommands->StartStartupCheck();
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    BuildDialog(*this, AboutBoxTemplate());
    if (auto* ok = qobject_cast<QPushButton*>(GetDlgItem(this, IDC_ABOUT_OK)))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tessel
