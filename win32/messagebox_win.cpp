#include "win32/messagebox_win.h"

#include <shellapi.h>

#include "win32/dialog_template_win.h"

namespace tessel {
namespace {

const HelpContext* g_helpContext = nullptr;
constexpr UINT_PTR kShellSuccess = 32;  // ShellExecute's results above this are success
int g_boxDepth = 0;

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    const auto slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

// The box's caption where it names none: the program file's name without
// its extension, as the system's boxes of a program are titled.
std::string ProgramCaption()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    if (const auto slash = name.find_last_of(L"\\/"); slash != std::wstring::npos) name.erase(0, slash + 1);
    if (const auto dot = name.find_last_of(L'.'); dot != std::wstring::npos) name.erase(dot);
    return Narrow(name.c_str());
}

void CALLBACK OnBoxHelp(LPHELPINFO info)
{
    // F1 in the box: the topic of the context the box was shown with.
    if (info && info->dwContextId) ShowWin32Help(static_cast<int>(info->dwContextId));
}

}  // namespace

void SetWin32HelpContextSource(const HelpContext* source)
{
    g_helpContext = source;
}

int CurrentWin32HelpContext()
{
    return g_helpContext ? g_helpContext->Current() : 0;
}

bool Win32BoxShowing()
{
    return g_boxDepth > 0;
}

UINT MessageBoxFlags(MsgButtons buttons, MsgIcon icon, int defaultButton)
{
    UINT flags = 0;
    switch (buttons) {
    case MsgButtons::Ok:
        flags |= MB_OK;
        break;
    case MsgButtons::OkCancel:
        flags |= MB_OKCANCEL;
        break;
    case MsgButtons::YesNo:
        flags |= MB_YESNO;
        break;
    case MsgButtons::YesNoCancel:
        flags |= MB_YESNOCANCEL;
        break;
    }
    switch (icon) {
    case MsgIcon::None:
    case MsgIcon::Exclamation:
        flags |= MB_ICONEXCLAMATION;
        break;
    case MsgIcon::Information:
        flags |= MB_ICONINFORMATION;
        break;
    case MsgIcon::Question:
        flags |= MB_ICONQUESTION;
        break;
    case MsgIcon::Stop:
        flags |= MB_ICONSTOP;
        break;
    }
    if (defaultButton == 1) flags |= MB_DEFBUTTON2;
    if (defaultButton == 2) flags |= MB_DEFBUTTON3;
    return flags;
}

MsgAnswer ShowWin32Box(const Win32Box& box)
{
    const std::wstring caption = Widen((box.caption.empty() ? ProgramCaption() : box.caption).c_str());
    const std::wstring text = Widen(box.text.c_str());
    MSGBOXPARAMSW params{};
    params.cbSize = sizeof(params);
    params.hwndOwner = box.owner;
    params.hInstance = GetModuleHandleW(nullptr);
    params.lpszText = text.c_str();
    params.lpszCaption = caption.c_str();
    // Exactly the buttons the text table names, as the Linux window's
    // boxes: no Help button. F1 still reaches the callback with the
    // context, since the system turns F1 in any box into WM_HELP.
    params.dwStyle = MessageBoxFlags(box.buttons, box.icon, box.defaultButton);
    params.dwContextHelpId = static_cast<DWORD_PTR>(box.helpContext >= 0 ? box.helpContext : CurrentWin32HelpContext());
    params.lpfnMsgBoxCallback = OnBoxHelp;
    // A box shown while the main window is locked must not unlock it: the
    // system enables a box's owner again when the box goes.
    const bool ownerDisabled = box.owner && !IsWindowEnabled(box.owner);
    ++g_boxDepth;
    const int answer = MessageBoxIndirectW(&params);
    --g_boxDepth;
    if (ownerDisabled) EnableWindow(box.owner, FALSE);
    switch (answer) {
    case IDCANCEL:
        return MsgAnswer::Cancel;
    case IDYES:
        return MsgAnswer::Yes;
    case IDNO:
        return MsgAnswer::No;
    default:
        return MsgAnswer::Ok;
    }
}

MsgAnswer ShowWin32TextBox(HWND owner, int textId, int helpContext)
{
    Win32Box box;
    box.owner = owner;
    box.helpContext = helpContext;
    box.text = TextOf(textId);
    if (const BoxStyle* style = FindBoxStyle(textId)) {
        box.buttons = style->buttons;
        box.icon = style->icon;
        box.defaultButton = style->defaultButton;
    }
    return ShowWin32Box(box);
}

std::wstring HelpTopicPath(int helpContext)
{
    const std::wstring folder = ProgramFolder() + L"help\\";
    const std::wstring topic = folder + L"topic" + std::to_wstring(helpContext) + L".html";
    if (helpContext > 0 && GetFileAttributesW(topic.c_str()) != INVALID_FILE_ATTRIBUTES) return topic;
    return folder + L"contents.html";
}

void ShowWin32Help(int helpContext)
{
    const std::wstring path = HelpTopicPath(helpContext);
    // The default browser, through the page's file type.
    if (reinterpret_cast<UINT_PTR>(ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) >
        kShellSuccess)
        return;
    // A system where ".html" has no owner (Wine's prefixes, a stripped
    // install) still knows the class of web pages.
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_CLASSNAME | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = path.c_str();
    info.lpClass = L"htmlfile";
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return;
    // Nothing opens web pages here: said as for a home page, over the
    // window (or box) the user pressed F1 in.
    ShowWin32TextBox(GetActiveWindow(), IDS_BROWSER_FAILED, 0);
}

}  // namespace tessel
