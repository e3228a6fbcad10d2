// Reads the Win32 window of tessel.exe from outside, for the Wine
// scenarios: where its controls are on the screen, what its status line
// and address fields say, which controls are hidden, and the text of any
// box that is up. One line per fact on standard output:
//   WINDOW x y w h | AT id cx cy left top right bottom | ROW0 cx cy | STATUS text
//   ADDRESS a.b.c.d | HIDDEN id | BOX text | BUTTON cx cy text (of a box)
//   NOTE text (a progress window's or the shutdown notice's text)
//   BAR position (the setting window's bar, 0 to 100)
// Window texts cross processes (WM_GETTEXT is carried by the system), so
// nothing here needs memory in the other program.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kControls[] = {1018, 1024, 1025, 2, 57670, 1038, 1039, 1042, 1055};
constexpr int kStageBar = 1057;

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
    if (std::wstring(cls) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    const std::wstring caption = TextOf(window);
    if (caption == L"tessel") {
        EnumChildWindows(window, StaticText, reinterpret_cast<LPARAM>("BOX"));
    } else if (caption.empty()) {
        // The progress windows and the shutdown notice have no caption.
        EnumChildWindows(window, StaticText, reinterpret_cast<LPARAM>("NOTE"));
        if (HWND bar = GetDlgItem(window, kStageBar))
            std::printf("BAR %ld\n", static_cast<long>(SendMessageW(bar, PBM_GETPOS, 0, 0)));
    }
    return TRUE;
}

}  // namespace

int wmain()
{
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
        HWND address = GetDlgItem(main, 1025);
        std::string fields;
        for (int n = 1; n <= 4; ++n) fields += (n > 1 ? "." : "") + Utf8(TextOf(GetDlgItem(address, n)));
        std::printf("ADDRESS %s\n", fields.c_str());
    }
    EnumWindows(TopWindow, 0);
    return main ? 0 : 1;
}
