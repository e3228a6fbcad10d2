// Reads the Win32 window of tessel.exe from outside, for the Wine
// scenarios: where its controls are on the screen, what its status line
// and address fields say, which controls are hidden, and the text of any
// box that is up. One line per fact on standard output:
//   WINDOW x y w h | AT id cx cy left top right bottom | ROW0 cx cy | STATUS text
//   ADDRESS a.b.c.d | HIDDEN id | BOX text | BUTTON cx cy text (of a box)
//   NOTE text (a progress window's or the shutdown notice's text)
//   BAR position (the setting window's bar, 0 to 100)
//   DIALOG caption (another dialog of the program: the About box), whose
//   texts come as TEXT lines and its buttons as BUTTON lines
//   ROWS n | SELECTED row (-1: none) | CHECKED id 0/1 (the check boxes)
//   FOCUS id, or 1025.n for field n of the address control | ACTIVE 0/1
//   (whether the main window is its thread's active window)
//   FIELDSEL start end length (the focused address field's selection)
//   TIP text (a tooltip that shows)
//   NAME n text (with the argument "names"): the accessible name of the
//   address control's field n, as a screen reader asks for it
//   (AccessibleObjectFromWindow, get_accName)
// With the arguments "clip TEXT" it instead puts TEXT on the clipboard,
// as another program's copy would, for a paste to find.
// Window texts cross processes (WM_GETTEXT is carried by the system), so
// nothing here needs memory in the other program.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr int kControls[] = {1018, 1024, 1025, 2, 57670, 1038, 1039, 1042, 1054, 1055};
constexpr int kStageBar = 1057;
constexpr int kAddressControl = 1025;
constexpr int kCheckBoxes[] = {1042, 1043};

std::string Utf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

// Prints the static texts of a window under `key` (BOX or NOTE), and
// where its buttons are.
BOOL CALLBACK StaticText(HWND child, LPARAM key)
{
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (std::wstring(cls) == L"Static" && !TextOf(child).empty())
        std::printf("%s %s\n", reinterpret_cast<const char*>(key), Utf8(TextOf(child)).c_str());
    if (std::wstring(cls) == L"Button" && IsWindowVisible(child)) {
        RECT r;
        GetWindowRect(child, &r);
        std::string text = Utf8(TextOf(child));
        std::erase(text, '&');
        std::printf("BUTTON %ld %ld %s\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2, text.c_str());
    }
    return TRUE;
}

BOOL CALLBACK TopWindow(HWND window, LPARAM)
{
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (std::wstring(cls) == TOOLTIPS_CLASSW && IsWindowVisible(window))
        std::printf("TIP %s\n", Utf8(TextOf(window)).c_str());
    if (std::wstring(cls) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    const std::wstring caption = TextOf(window);
    if (caption == L"tessel") {
        EnumChildWindows(window, StaticText, reinterpret_cast<LPARAM>("BOX"));
    } else if (caption.empty()) {
        // The progress windows and the shutdown notice have no caption.
        EnumChildWindows(window, StaticText, reinterpret_cast<LPARAM>("NOTE"));
        if (HWND bar = GetDlgItem(window, kStageBar))
            std::printf("BAR %ld\n", static_cast<long>(SendMessageW(bar, PBM_GETPOS, 0, 0)));
    } else if (caption != L" MERROW Tessel") {
        std::printf("DIALOG %s\n", Utf8(caption).c_str());
        EnumChildWindows(window, StaticText, reinterpret_cast<LPARAM>("TEXT"));
    }
    return TRUE;
}

}  // namespace

// Where the keyboard is in the main window's thread.
void PrintFocus(HWND main)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info)) return;
    std::printf("ACTIVE %d\n", info.hwndActive == main ? 1 : 0);
    HWND focus = info.hwndFocus;
    if (!focus) return;
    HWND parent = GetParent(focus);
    if (parent && GetDlgCtrlID(parent) == kAddressControl && GetParent(parent) == main) {
        std::printf("FOCUS %d.%d\n", kAddressControl, GetDlgCtrlID(focus));
        // The field's selection and its length: "0 3 3" is all of "192".
        DWORD start = 0, end = 0;
        SendMessageW(focus, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        std::printf("FIELDSEL %lu %lu %d\n", static_cast<unsigned long>(start), static_cast<unsigned long>(end),
                    static_cast<int>(SendMessageW(focus, WM_GETTEXTLENGTH, 0, 0)));
    } else
        std::printf("FOCUS %d\n", parent == main ? GetDlgCtrlID(focus) : 0);
}

void PrintFieldNames(HWND address)
{
    for (int n = 1; n <= 4; ++n) {
        IAccessible* object = nullptr;
        const HRESULT found = AccessibleObjectFromWindow(GetDlgItem(address, n), static_cast<DWORD>(OBJID_CLIENT),
                                                         __uuidof(IAccessible), reinterpret_cast<void**>(&object));
        if (FAILED(found)) {
            std::printf("NAMELESS %d %08lx\n", n, static_cast<unsigned long>(found));
            continue;
        }
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        if (object->get_accName(self, &name) == S_OK && name) std::printf("NAME %d %s\n", n, Utf8(name).c_str());
        SysFreeString(name);
        object->Release();
    }
}

int PutOnClipboard(const wchar_t* text)
{
    const std::size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!data) return 1;
    std::memcpy(GlobalLock(data), text, bytes);
    GlobalUnlock(data);
    if (!OpenClipboard(nullptr)) return 1;
    EmptyClipboard();
    const bool put = SetClipboardData(CF_UNICODETEXT, data) != nullptr;
    CloseClipboard();
    return put ? 0 : 1;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"clip") return PutOnClipboard(argv[2]);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HWND main = FindWindowW(L"#32770", L" MERROW Tessel");
    if (main) {
        RECT r;
        GetWindowRect(main, &r);
        std::printf("WINDOW %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        for (int id : kControls) {
            HWND control = GetDlgItem(main, id);
            if (!control) continue;
            GetWindowRect(control, &r);
            std::printf("AT %d %ld %ld %ld %ld %ld %ld\n", id, (r.left + r.right) / 2, (r.top + r.bottom) / 2, r.left,
                        r.top, r.right, r.bottom);
            if (!IsWindowVisible(control)) std::printf("HIDDEN %d\n", id);
        }
        // The first row: just under the list's header, a little in.
        HWND list = GetDlgItem(main, 1024);
        HWND header = FindWindowExW(list, nullptr, L"SysHeader32", nullptr);
        if (list && header) {
            RECT head;
            GetWindowRect(header, &head);
            std::printf("ROW0 %ld %ld\n", head.left + 40, head.bottom + 7);
        }
        std::printf("STATUS %s\n", Utf8(TextOf(GetDlgItem(main, 1055))).c_str());
        HWND address = GetDlgItem(main, kAddressControl);
        std::string fields;
        for (int n = 1; n <= 4; ++n) fields += (n > 1 ? "." : "") + Utf8(TextOf(GetDlgItem(address, n)));
        std::printf("ADDRESS %s\n", fields.c_str());
        std::printf("ROWS %ld\n", static_cast<long>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
        std::printf("SELECTED %ld\n",
                    static_cast<long>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
        for (int id : kCheckBoxes)
            if (HWND box = GetDlgItem(main, id))
                std::printf("CHECKED %d %ld\n", id, static_cast<long>(SendMessageW(box, BM_GETCHECK, 0, 0)));
        PrintFocus(main);
        if (argc == 2 && std::wstring(argv[1]) == L"names") PrintFieldNames(address);
    }
    EnumWindows(TopWindow, 0);
    return main ? 0 : 1;
}
