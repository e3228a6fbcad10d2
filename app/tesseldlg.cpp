#include "app/tesseldlg.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGuiApplication>
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
#include "app/ipaddrctl.h"
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

template <typename T>
T* Bind(QWidget* dialog, int id)
{
    return qobject_cast<T*>(GetDlgItem(dialog, id));
}

}  // namespace

CTesselDlg::CTesselDlg(bool inkwellMode, QWidget* parent) : CTesselDlg(inkwellMode, DialogEnvironment{}, parent)
{}

CTesselDlg::CTesselDlg(bool inkwellMode, DialogEnvironment environment, QWidget* parent) : QDialog(parent)
{
    BuildDialog(*this, MainDialogTemplate());
    BindControls();

    m_pServerListModel = new ServerListItemModel(this);
    m_serverList->setModel(m_pServerListModel);
    m_serverList->installEventFilter(this);
    m_serverList->viewport()->installEventFilter(this);

    QtMainWindowView::Controls controls{this,        m_serverList,  m_pIPAddrCtl,  m_statusLine,
                                        m_step2Text, m_setIpButton, m_closeButton, m_animation};
    controls.model = m_pServerListModel;
    controls.logfileCheck = m_logfileCheck;
    controls.onlyMerrowCheck = m_onlyMerrowCheck;
    controls.merrowWebButton = m_merrowWebButton;
    controls.homePageButton = m_homePageButton;
    m_pView = std::make_unique<QtMainWindowView>(
        controls, environment.clock ? *environment.clock : RealClock(), [](const std::string& address) {
            CRegistryAccess().WriteString(QString::fromLatin1(kInkwellKey), kNewServerValue,
                                          QString::fromStdString(address), RegistryRoot::CurrentUser);
        });
    m_pWindow = std::make_unique<MainWindowLogic>(*m_pView, inkwellMode, std::move(environment));
    ConnectCommands();
    BuildSystemMenu();
}

CTesselDlg::~CTesselDlg()
{
    m_pWindow.reset();
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

void CTesselDlg::ConnectCommands()
{
    // The commands exist once the window has initialised; before that a
    // press does nothing.
    auto command = [this](void (WindowCommands::*handler)()) {
        return [this, handler] {
            if (WindowCommands* commands = Commands()) (commands->*handler)();
        };
    };
    connect(m_setIpButton, &QPushButton::clicked, this, command(&WindowCommands::OnSetIpAddress));
    connect(m_homePageButton, &QPushButton::clicked, this, command(&WindowCommands::OnHomePageOfSelected));
    connect(m_merrowWebButton, &QPushButton::clicked, this, command(&WindowCommands::OnMerrowHomePage));
    connect(m_onlyMerrowCheck, &QCheckBox::clicked, this, [this](bool on) { m_pWindow->OnOnlyMerrowSwitch(on); });
    connect(m_logfileCheck, &QCheckBox::clicked, this, [this](bool on) { m_pWindow->OnLogfileSwitch(on); });
    connect(m_closeButton, &QPushButton::clicked, this, &CTesselDlg::reject);
    connect(m_helpButton, &QPushButton::clicked, this, &CTesselDlg::OnHelp);

    // F1 without Shift, Ctrl or Alt anywhere in the window; the message
    // boxes take it themselves and ask the same help handler.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::WindowShortcut);
    connect(f1, &QShortcut::activated, this, &CTesselDlg::OnHelp);
    SetHelpContextSource(&m_pWindow->Help());
    SetHelpHandler([](int helpContext) { ShowHelp(helpContext); });
    // Alt+Space opens the system menu where no window manager takes it.
    auto* altSpace = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    altSpace->setContext(Qt::WindowShortcut);
    connect(altSpace, &QShortcut::activated, this, [this] { ShowSystemMenu(mapToGlobal(QPoint(0, 0))); });
}

bool SystemMenuHasMove(const QString& platformName)
{
    return !platformName.startsWith(QLatin1String("wayland"));
}

// The system menu as the system gives a dialog with a minimise box that
// keeps its size, then the About item after a separator.
void CTesselDlg::BuildSystemMenu()
{
    m_pSystemMenu = new QMenu(this);
    auto add = [this](MenuItem item, const QString& text) {
        QAction* action = m_pSystemMenu->addAction(text);
        connect(action, &QAction::triggered, this, [this, item] { OnMenuItem(item); });
        return action;
    };
    QAction* restore = add(MenuItem::Restore, QStringLiteral("&Restore"));
    // A Wayland client cannot move its own window from a menu (the
    // compositor moves it only while a button is held on it), so there is
    // no Move there rather than one that does nothing.
    QAction* move =
        SystemMenuHasMove(QGuiApplication::platformName()) ? add(MenuItem::Move, QStringLiteral("&Move")) : nullptr;
    QAction* minimize = add(MenuItem::Minimize, QStringLiteral("Mi&nimize"));
    m_pSystemMenu->addSeparator();
    add(MenuItem::Close, QStringLiteral("&Close\tAlt+F4"));
    if (const QString about = LoadString(IDS_ABOUTBOX); !about.isEmpty()) {
        m_pSystemMenu->addSeparator();
        add(MenuItem::About, about);
    }
    connect(m_pSystemMenu, &QMenu::aboutToShow, this, [this, restore, move, minimize] {
        restore->setEnabled(isMinimized());
        if (move) move->setEnabled(!isMinimized());
        minimize->setEnabled(!isMinimized());
    });
}

void CTesselDlg::OnMenuItem(MenuItem item)
{
    switch (item) {
    case MenuItem::Restore:
        showNormal();
        break;
    case MenuItem::Move:
        if (windowHandle()) windowHandle()->startSystemMove();
        break;
    case MenuItem::Minimize:
        showMinimized();
        break;
    case MenuItem::Close:
        reject();
        break;
    case MenuItem::About: {
        CAboutDlg about(this);
        about.exec();
        break;
    }
    }
}

void CTesselDlg::OnInitDialog()
{
    setWindowIcon(LoadIcon(IDR_MAINFRAME));
    SetUpTooltips();
    FillTexts();
    SetUpServerList();
    m_pWindow->Start();
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
    for (int column = 0; column < 2; ++column) m_serverList->header()->resizeSection(column, kServerListColumnWidth);
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

void CTesselDlg::OnHelp()
{
    ShowHelp(m_pWindow->Help().Current());
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
    WindowCommands* commands = m_pWindow ? Commands() : nullptr;
    if (commands && watched == m_serverList && event->type() == QEvent::KeyPress) {
        commands->OnServerListKeyDown(ListKeyOf(static_cast<QKeyEvent*>(event)->key()));
    } else if (commands && watched == m_serverList->viewport() && event->type() == QEvent::MouseButtonRelease) {
        // Only the primary button picks a row, as a click on the list does.
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) commands->OnServerListClick();
    }
    return QDialog::eventFilter(watched, event);
}

void CTesselDlg::reject()
{
    if (WindowCommands* commands = Commands()) {
        commands->OnClose();
        return;
    }
    // Closed before it initialised: nothing runs yet.
    done(QDialog::Rejected);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    BuildDialog(*this, AboutBoxTemplate());
    if (auto* ok = qobject_cast<QPushButton*>(GetDlgItem(this, IDC_ABOUT_OK)))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tessel
