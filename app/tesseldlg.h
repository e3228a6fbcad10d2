// The main window in Qt: the two steps of the job (pick a server from the
// list, type its address and set it), laid out by its template. It owns
// the controls and their view (QtMainWindowView); the window's whole logic,
// its start-up included, is MainWindowLogic's, which the dialog starts when it
// is first shown.
#pragma once

#include <QDialog>
#include <QIcon>

#include <memory>

#include "workflow/main_window.h"

class QCheckBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeView;

namespace tessel {

class CAnimateCtrl;
class CIPAddrCtl;
class ServerListItemModel;
class QtMainWindowView;

// Whether the system menu offers Move on the Qt platform of that name: a
// Wayland window cannot be moved from a menu.
bool SystemMenuHasMove(const QString& platformName);

// What the window takes from the computer it runs on; tests give their own.
using DialogEnvironment = WindowEnvironment;

class CTesselDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTesselDlg(bool inkwellMode, QWidget* parent = nullptr);
    CTesselDlg(bool inkwellMode, DialogEnvironment environment, QWidget* parent = nullptr);
    ~CTesselDlg() override;

    // The engine; null until the window has initialised.
    EngineHost* Engine() const { return m_pWindow->Engine(); }
    ServerListItemModel& ServerListModel() const { return *m_pServerListModel; }
    QMenu* SystemMenu() const { return m_pSystemMenu; }
    HelpContext& Help() { return m_pWindow->Help(); }
    bool InkwellMode() const { return m_pWindow->InkwellMode(); }
    const std::string& HostAddress() const { return m_pWindow->Host().address; }
    // What the window's list, buttons and close do; null until the window
    // has initialised.
    WindowCommands* Commands() const { return m_pWindow->Commands(); }
    QtMainWindowView& View() const { return *m_pView; }

    // Opens the topic of the current help context.
    void OnHelp();

protected:
    // Fills the window's own texts, then starts the window's logic; runs
    // once, when the window is first shown.
    virtual void OnInitDialog();

    void showEvent(QShowEvent* event) override;
    void reject() override;  // Escape and the window's close: the Close command
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Controls, bound by number.
    QLineEdit* m_statusLine = nullptr;            // 1055
    QPushButton* m_setIpButton = nullptr;         // 1018
    QPushButton* m_homePageButton = nullptr;      // 1038
    QPushButton* m_closeButton = nullptr;         // 2
    QPushButton* m_helpButton = nullptr;          // 57670
    QPushButton* m_merrowWebButton = nullptr;     // 1039
    QCheckBox* m_onlyMerrowCheck = nullptr;       // 1043
    QCheckBox* m_logfileCheck = nullptr;          // 1042
    QPlainTextEdit* m_step1Text = nullptr;        // 1053
    QPlainTextEdit* m_step2Text = nullptr;        // 1054
    QPlainTextEdit* m_listeningText = nullptr;    // 1052
    QPlainTextEdit* m_restartHintText = nullptr;  // 1051
    QTreeView* m_serverList = nullptr;            // 1024
    CAnimateCtrl* m_animation = nullptr;          // 1026
    CIPAddrCtl* m_pIPAddrCtl = nullptr;           // 1025

private:
    // The system menu's items, as the system gives a dialog that keeps its
    // size, and the About item after them.
    enum class MenuItem { Restore, Move, Minimize, Close, About };

    void BindControls();
    void ConnectCommands();
    void BuildSystemMenu();
    void OnMenuItem(MenuItem item);
    void SetUpTooltips();
    void FillTexts();
    void SetUpServerList();
    void ShowSystemMenu(const QPoint& at);

    ServerListItemModel* m_pServerListModel = nullptr;
    QMenu* m_pSystemMenu = nullptr;
    bool m_bInitialised = false;
    std::unique_ptr<QtMainWindowView> m_pView;
    // The window's logic: goes before the view it uses.
    std::unique_ptr<MainWindowLogic> m_pWindow;
};

// The About box: the icon, the program's name and version, and OK.
class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tessel
