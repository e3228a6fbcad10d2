#include "win32/tesseldlg_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include "controls/ipaddr_rules.h"
#include "log/logfile.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "win32/clip_win.h"
#include "win32/dialog_template_win.h"
#include "win32/ipaddr_win.h"
#include "win32/messagebox_win.h"
#include "win32/registry_win.h"

namespace tessel {
namespace {

// A call posted to the window's thread waits in the queue; this message
// tells the window to run what is there.
constexpr UINT WM_TESSEL_POSTED = WM_APP + 1;
constexpr int kColumnWidth = 140;
// The clip: 29 frames, of which the window plays the first loop.
constexpr int kAnimationFrames = 29;
constexpr int kAnimationFirstFrame = 0;
constexpr int kAnimationLastFrame = 14;
constexpr int kAnimationFrameMs = 167;
// The maker's web button: a smaller face so that the host fits its width.
constexpr int kWebButtonFontPoints = 8;
constexpr UINT_PTR kShellSuccess = 32;  // ShellExecute's results above this are success

INT_PTR CALLBACK PlainDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDC_ABOUT_OK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// The progress windows take nothing from the user: none can be cancelled.
INT_PTR CALLBACK ProgressDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

ListKey ListKeyOf(WORD key)
{
    switch (key) {
    case VK_HOME:
        return ListKey::Home;
    case VK_END:
        return ListKey::End;
    case VK_UP:
        return ListKey::Up;
    case VK_DOWN:
        return ListKey::Down;
    default:
        return ListKey::Other;
    }
}

}  // namespace

void ShowAboutBox(HINSTANCE instance, HWND owner)
{
    const std::vector<std::uint16_t> about = BuildDialogTemplate(AboutBoxTemplate());
    DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(about.data()), owner, PlainDialogProc, 0);
}

CTesselDlgWin::CTesselDlgWin(bool inkwellMode) : m_bInkwellMode(inkwellMode), m_clock(RealClock())
{
    LookUpThisComputer();
}

CTesselDlgWin::~CTesselDlgWin()
{
    // The commands (and the start-up check they wait for) use the engine
    // and the view.
    m_pCommands.reset();
    if (m_pEngine) m_pEngine->Table().SetObserver(nullptr);
    m_pEngine.reset();
    SetWin32HelpContextSource(nullptr);
    if (m_hWebFont) DeleteObject(m_hWebFont);
    for (HFONT font : m_fittedFonts) DeleteObject(font);
}

void CTesselDlgWin::Run(HINSTANCE instance)
{
    m_hInstance = instance;
    const std::vector<std::uint16_t> tmpl = BuildDialogTemplate(MainDialogTemplate());
    DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
}

INT_PTR CALLBACK CTesselDlgWin::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CTesselDlgWin*>(lParam);
        self->m_hWnd = hwnd;
        self->OnInitDialog();
        return FALSE;  // the focus is set: the list
    }
    auto* self = reinterpret_cast<CTesselDlgWin*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CTesselDlgWin::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY:
        OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAboutBox(m_hInstance, m_hWnd);
            return TRUE;
        }
        return FALSE;
    case WM_HELP:
        // F1 in the window; in a box the box's own context is opened.
        if (!Win32BoxShowing()) ShowWin32Help(m_nHelpContext.load());
        return TRUE;
    case WM_SETCURSOR:
        if (m_waitCursors > 0) {
            SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_TESSEL_POSTED:
        RunPostedCalls();
        return TRUE;
    default:
        return FALSE;
    }
}

void CTesselDlgWin::OnInitDialog()
{
    m_hIcon = static_cast<HICON>(
        LoadImageW(m_hInstance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    m_hSmallIcon = static_cast<HICON>(
        LoadImageW(m_hInstance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    SendMessageW(m_hWnd, DM_SETDEFID, IDC_SET_IP, 0);
    SetUpSystemMenu();
    m_nHelpContext.store(kHelpAtRest);
    SetWin32HelpContextSource(&m_nHelpContext);
    SetUpTooltips();
    FillTexts();
    // The maker's host name is a small caption under the logo.
    HDC dc = GetDC(m_hWnd);
    m_hWebFont = CreateFontW(-MulDiv(kWebButtonFontPoints, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0, 0,
                             0, DEFAULT_CHARSET, 0, 0, 0, 0, kDialogFace);
    ReleaseDC(m_hWnd, dc);
    SendMessageW(Item(IDC_MERROW_HOMEPAGE), WM_SETFONT, reinterpret_cast<WPARAM>(m_hWebFont), TRUE);
    // Step 2 waits until a server is picked.
    EnableAddressInputs(false);
    SetAddress(HostNetworkAddress(m_hostOctets));
    SetUpServerList();
    if (!m_bInkwellMode && ClipOpen(Item(IDC_ANIMATION), IDR_ANIMATION, kAnimationFrames))
        ClipPlay(Item(IDC_ANIMATION), kAnimationFirstFrame, kAnimationLastFrame, kAnimationFrameMs);
    // Only the maker's servers are listed.
    CheckDlgButton(m_hWnd, IDC_ONLY_MERROW, BST_CHECKED);
    StartEngine();
    HideInstallerControls();
    MakeCommands();
    // The start-up check first, then the network thread.
    m_pCommands->StartStartupCheck();
    m_pEngine->Start();
    SetFocus(Item(IDC_SERVER_LIST));
}

void CTesselDlgWin::SetUpSystemMenu()
{
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    if (!menu) return;
    // The window keeps its size: no size or maximise item.
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    const std::wstring about = Widen(TextOf(IDS_ABOUTBOX));
    if (about.empty()) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
}

void CTesselDlgWin::SetUpTooltips()
{
    m_hTooltips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, m_hInstance, nullptr);
    if (!m_hTooltips) return;
    auto add = [this](HWND control, const char* text) {
        std::wstring wide = Widen(text);
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_hWnd;
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = wide.data();
        SendMessageW(m_hTooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    };
    for (const ControlTooltip& tip : MainDialogTooltips()) {
        HWND control = Item(tip.id);
        if (!control) continue;
        add(control, tip.text);
        // The address control's fields cover it: each carries its tip.
        if (tip.id == IDC_IPADDRESS)
            for (int n = 1; n <= kIPAddrFields; ++n) add(IPAddrField(control, n), tip.text);
    }
}

void CTesselDlgWin::FillTexts()
{
    // The read-only fields' texts were laid out for narrow margins: with
    // the font's own, "Continuously" breaks and the hint loses its last line.
    for (int id : {IDC_STEP1_TEXT, IDC_STEP2_TEXT, IDC_LISTENING, IDC_RESTART_HINT})
        SendDlgItemMessageW(m_hWnd, id, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(1, 1));
    SetDlgItemTextW(m_hWnd, IDC_STEP1_TEXT, Widen(TextOf(IDS_TEXT_STEP1)).c_str());
    SetDlgItemTextW(m_hWnd, IDC_STEP2_TEXT, Widen(TextOf(IDS_TEXT_STEP2)).c_str());
    SetDlgItemTextW(m_hWnd, IDC_STATUS, Widen(TextOf(IDS_NO_SERVER_SELECTED)).c_str());
    SetDlgItemTextW(m_hWnd, IDC_LISTENING, Widen(TextOf(IDS_TEXT_LISTENING)).c_str());
    SetDlgItemTextW(m_hWnd, IDC_RESTART_HINT, Widen(TextOf(IDS_TEXT_RESTART_HINT)).c_str());
    for (int id : {IDC_STEP1_TEXT, IDC_STEP2_TEXT, IDC_LISTENING, IDC_RESTART_HINT})
        if (HFONT font = FitTextToField(Item(id), 1)) m_fittedFonts.push_back(font);
}

void CTesselDlgWin::SetUpServerList()
{
    HWND list = Item(IDC_SERVER_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    const int headers[] = {IDS_COLUMN_SERIAL, IDS_COLUMN_ADDRESS};
    for (int column = 0; column < 2; ++column) {
        std::wstring text = Widen(TextOf(headers[column]));
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = LVCFMT_LEFT;
        col.cx = kColumnWidth;
        col.pszText = text.data();
        ListView_InsertColumn(list, column, &col);
    }
}

void CTesselDlgWin::LookUpThisComputer()
{
    const WindowHost host = WindowHostOf(LookUpHost());
    m_host = host.identity;
    m_hostOctets = host.octets;
}

// The logfile, and with it the engine: in Inkwell mode the logfile's folder
// comes from the installer's "Tessel Path".
void CTesselDlgWin::StartEngine()
{
    CheckDlgButton(m_hWnd, IDC_LOGFILE, BST_CHECKED);
    m_pEngine = std::make_unique<EngineHost>(WindowEngineSetup(
        m_bInkwellMode, m_bInkwellMode ? ReadTesselPath() : std::nullopt, m_host, this, &m_nHelpContext));
    // The list starts as the table is, then follows it.
    for (const ServerRow& row : m_pEngine->Table().Rows()) {
        m_rows.push_back({row.serial, row.address});
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(m_rows.size()) - 1;
        std::wstring serial = Widen(row.serial.c_str());
        item.pszText = serial.data();
        const int at = ListView_InsertItem(Item(IDC_SERVER_LIST), &item);
        std::wstring address = Widen(row.address.c_str());
        ListView_SetItemText(Item(IDC_SERVER_LIST), at, 1, address.data());
    }
    m_pEngine->Table().SetObserver(this);
}

// The installer's run: no web buttons, no logfile switch, and every print
// server is listed.
void CTesselDlgWin::HideInstallerControls()
{
    if (!m_bInkwellMode) return;
    for (int id : {IDC_MERROW_HOMEPAGE, IDC_HOMEPAGE_SELECTED, IDC_LOGFILE, IDC_ONLY_MERROW}) {
        EnableWindow(Item(id), FALSE);
        ShowWindow(Item(id), SW_HIDE);
    }
    m_pEngine->OnlyMerrow().store(0);
}

void CTesselDlgWin::MakeCommands()
{
    WindowCommandsSetup setup;
    setup.view = this;
    setup.engine = m_pEngine.get();
    setup.helpContext = &m_nHelpContext;
    setup.inkwellMode = m_bInkwellMode;
    setup.hostOctets = m_hostOctets;
    m_pCommands = std::make_unique<CWindowCommands>(std::move(setup));
}

void CTesselDlgWin::OnCommand(int id, int code)
{
    if (!m_pCommands) return;
    switch (id) {
    case IDC_SET_IP:
        m_pCommands->OnSetIpAddress();
        break;
    case IDC_HOMEPAGE_SELECTED:
        m_pCommands->OnHomePageOfSelected();
        break;
    case IDC_MERROW_HOMEPAGE:
        m_pCommands->OnMerrowHomePage();
        break;
    case IDC_CLOSE:
        m_pCommands->OnClose();
        break;
    case ID_HELP:
        ShowWin32Help(m_nHelpContext.load());
        break;
    case IDC_LOGFILE:
        if (code == BN_CLICKED) m_pEngine->Log().SetEnabled(IsDlgButtonChecked(m_hWnd, IDC_LOGFILE) == BST_CHECKED);
        break;
    case IDC_ONLY_MERROW:
        if (code == BN_CLICKED)
            m_pEngine->OnlyMerrow().store(IsDlgButtonChecked(m_hWnd, IDC_ONLY_MERROW) == BST_CHECKED ? 1 : 0);
        break;
    default:
        break;
    }
}

void CTesselDlgWin::OnNotify(const NMHDR& header)
{
    if (!m_pCommands || header.idFrom != static_cast<UINT_PTR>(IDC_SERVER_LIST)) return;
    if (header.code == NM_CLICK)
        m_pCommands->OnServerListClick();
    else if (header.code == LVN_KEYDOWN)
        m_pCommands->OnServerListKeyDown(ListKeyOf(reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey));
}

void CTesselDlgWin::Post(std::function<void()> call)
{
    {
        std::lock_guard<std::mutex> lock(m_postLock);
        m_posted.push_back(std::move(call));
    }
    if (m_hWnd) PostMessageW(m_hWnd, WM_TESSEL_POSTED, 0, 0);
}

void CTesselDlgWin::RunPostedCalls()
{
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(m_postLock);
            if (m_posted.empty()) return;
            call = std::move(m_posted.front());
            m_posted.pop_front();
        }
        call();
    }
}

void CTesselDlgWin::OnRowInserted(int index, const ServerRow& row)
{
    Post([this, index, r = Row{row.serial, row.address}] {
        if (index < 0 || index > static_cast<int>(m_rows.size())) return;
        m_rows.insert(m_rows.begin() + index, r);
        std::wstring serial = Widen(r.serial.c_str());
        std::wstring address = Widen(r.address.c_str());
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = index;
        item.pszText = serial.data();
        ListView_InsertItem(Item(IDC_SERVER_LIST), &item);
        ListView_SetItemText(Item(IDC_SERVER_LIST), index, 1, address.data());
    });
}

void CTesselDlgWin::OnRowChanged(int index, const ServerRow& row)
{
    Post([this, index, r = Row{row.serial, row.address}] {
        if (index < 0 || index >= static_cast<int>(m_rows.size())) return;
        m_rows[static_cast<std::size_t>(index)] = r;
        std::wstring serial = Widen(r.serial.c_str());
        std::wstring address = Widen(r.address.c_str());
        ListView_SetItemText(Item(IDC_SERVER_LIST), index, 0, serial.data());
        ListView_SetItemText(Item(IDC_SERVER_LIST), index, 1, address.data());
    });
}

void CTesselDlgWin::OnRowDeleted(int index)
{
    Post([this, index] {
        if (index < 0 || index >= static_cast<int>(m_rows.size())) return;
        m_rows.erase(m_rows.begin() + index);
        ListView_DeleteItem(Item(IDC_SERVER_LIST), index);
    });
}

void CTesselDlgWin::CloseProgram()
{
    if (m_pCommands) m_pCommands->CloseProgram();
}

int CTesselDlgWin::RowCount() const
{
    return static_cast<int>(m_rows.size());
}

int CTesselDlgWin::FirstSelectedRow() const
{
    return static_cast<int>(ListView_GetNextItem(Item(IDC_SERVER_LIST), -1, LVNI_SELECTED));
}

bool CTesselDlgWin::RowTexts(int row, std::string& serial, std::string& address) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return false;
    serial = m_rows[static_cast<std::size_t>(row)].serial;
    address = m_rows[static_cast<std::size_t>(row)].address;
    return true;
}

void CTesselDlgWin::SetStatusText(const std::string& text)
{
    SetDlgItemTextW(m_hWnd, IDC_STATUS, Widen(text.c_str()).c_str());
}

void CTesselDlgWin::EnableAddressInputs(bool enable)
{
    for (int id : {IDC_STEP2_TEXT, IDC_IPADDRESS, IDC_SET_IP}) EnableWindow(Item(id), enable);
}

void CTesselDlgWin::EnableCloseButton(bool enable)
{
    EnableWindow(Item(IDC_CLOSE), enable);
}

void CTesselDlgWin::LockInput(bool locked)
{
    // As the system disables a dialog's owner: no key, click or close
    // reaches the window; the boxes shown meanwhile take theirs.
    EnableWindow(m_hWnd, locked ? FALSE : TRUE);
}

void CTesselDlgWin::SetWaitCursor(bool on)
{
    if (on)
        ++m_waitCursors;
    else if (m_waitCursors > 0)
        --m_waitCursors;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(m_waitCursors > 0 ? IDC_WAIT : IDC_ARROW)));
}

void CTesselDlgWin::StopAnimation()
{
    ClipStop(Item(IDC_ANIMATION));
    ClipClose(Item(IDC_ANIMATION));
}

void CTesselDlgWin::SetAddress(const Ipv4Bytes& bytes)
{
    SendMessageW(Item(IDC_IPADDRESS), IPAM_SETADDRESS, 0, reinterpret_cast<LPARAM>(bytes.data()));
}

std::optional<Ipv4Bytes> CTesselDlgWin::ReadAddress()
{
    IPAddrData data;
    if (SendMessageW(Item(IDC_IPADDRESS), IPAM_GETADDRESS, 1, reinterpret_cast<LPARAM>(&data)) == 0)
        return std::nullopt;
    return data.octets;
}

void CTesselDlgWin::FocusAddressField(int field)
{
    HWND edit = IPAddrField(Item(IDC_IPADDRESS), field);
    if (!edit) return;
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
}

MsgAnswer CTesselDlgWin::ShowBox(const BoxStyle& box)
{
    Win32Box request;
    request.owner = m_hWnd;
    request.text = TextOf(box.id);
    request.buttons = box.buttons;
    request.icon = box.icon;
    request.defaultButton = box.defaultButton;
    return ShowWin32Box(request);
}

void CTesselDlgWin::ShowTextBox(const std::string& text, MsgIcon icon)
{
    Win32Box request;
    request.owner = m_hWnd;
    request.text = text;
    request.icon = icon;
    ShowWin32Box(request);
}

HWND CTesselDlgWin::OpenProgressWindow(int templateId)
{
    const DialogTemplate& tmpl = templateId == IDD_VALIDATING ? ValidatingTemplate()
                                 : templateId == IDD_STAGE    ? StageTemplate()
                                                              : ShutdownNoticeTemplate();
    const std::vector<std::uint16_t> data = BuildDialogTemplate(tmpl);
    HWND window = CreateDialogIndirectParamW(m_hInstance, reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), m_hWnd,
                                             ProgressDialogProc, 0);
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOWNA);
    UpdateWindow(window);
    return window;
}

void CTesselDlgWin::OpenValidating()
{
    m_hValidating = OpenProgressWindow(IDD_VALIDATING);
}

void CTesselDlgWin::CloseValidating()
{
    if (m_hValidating) DestroyWindow(m_hValidating);
    m_hValidating = nullptr;
}

void CTesselDlgWin::OpenStage(int textId)
{
    m_hStage = OpenProgressWindow(IDD_STAGE);
    SetStageText(textId);
}

void CTesselDlgWin::SetStageText(int textId)
{
    if (m_hStage) SetDlgItemTextW(m_hStage, IDC_STAGE_TEXT, Widen(TextOf(textId)).c_str());
}

void CTesselDlgWin::SetBar(int position)
{
    if (m_hStage) SendDlgItemMessageW(m_hStage, IDC_STAGE_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CTesselDlgWin::CloseStage()
{
    if (m_hStage) DestroyWindow(m_hStage);
    m_hStage = nullptr;
}

void CTesselDlgWin::OpenShutdownNotice()
{
    m_hNotice = OpenProgressWindow(IDD_SHUTDOWN);
}

void CTesselDlgWin::CloseShutdownNotice()
{
    if (m_hNotice) DestroyWindow(m_hNotice);
    m_hNotice = nullptr;
}

void CTesselDlgWin::Repaint()
{
    for (HWND window : {m_hWnd, m_hStage, m_hValidating, m_hNotice})
        if (window) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

bool CTesselDlgWin::OpenUrl(const std::string& url)
{
    const auto result = reinterpret_cast<UINT_PTR>(
        ShellExecuteW(m_hWnd, L"open", Widen(url.c_str()).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > kShellSuccess;
}

void CTesselDlgWin::RegisterNewServer(const std::string& address)
{
    WriteNewServer(address);
}

void CTesselDlgWin::EndDialog()
{
    LockInput(false);
    if (m_hWnd) ::EndDialog(m_hWnd, IDCANCEL);
}

}  // namespace tessel
