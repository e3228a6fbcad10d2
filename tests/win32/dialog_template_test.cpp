// The Win32 dialogs from the shared tables: the in-memory template read
// back word by word (no display needed), and the dialogs made from it, each
// child where its row puts it after MapDialogRect (needs a display).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <cstdlib>
#include <string>

#include "controls/ipaddr_rules.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "resources/texts.h"
#include "win32/clip_win.h"
#include "win32/dialog_template_win.h"
#include "win32/ipaddr_win.h"
#include "win32/messagebox_win.h"
#include "win32/serverlist_win.h"
#include "win32/tesseldlg_win.h"
#include "win32/window_clock_win.h"

namespace tessel {
namespace {

const DialogTemplate* const kAllDialogs[] = {&MainDialogTemplate(), &AboutBoxTemplate(), &ValidatingTemplate(),
                                             &StageTemplate(), &ShutdownNoticeTemplate()};

// Reads a DLGTEMPLATEEX back as the dialog manager walks it.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<std::uint16_t>& words) : m_words(words) {}
    std::uint16_t Word() { return m_at < m_words.size() ? m_words[m_at++] : 0xDEAD; }
    std::uint32_t Dword()
    {
        const std::uint32_t low = Word();
        return low | (static_cast<std::uint32_t>(Word()) << 16);
    }
    std::int16_t Short() { return static_cast<std::int16_t>(Word()); }
    // A text, or "#N" for an ordinal.
    std::wstring SzOrOrd()
    {
        if (m_words[m_at] == 0xFFFF) {
            ++m_at;
            return L"#" + std::to_wstring(Word());
        }
        std::wstring text;
        for (std::uint16_t c = Word(); c != 0; c = Word()) text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignDword() { m_at += m_at % 2; }
    bool AtEnd() const { return m_at == m_words.size(); }

private:
    const std::vector<std::uint16_t>& m_words;
    std::size_t m_at = 0;
};

TEST(Win32DialogTemplate, EveryRowIsReadBackAsWritten)
{
    for (const DialogTemplate* dialog : kAllDialogs) {
        SCOPED_TRACE(dialog->id);
        const std::vector<std::uint16_t> words = BuildDialogTemplate(*dialog);
        TemplateReader r(words);
        EXPECT_EQ(r.Word(), 1);
        EXPECT_EQ(r.Word(), 0xFFFF);
        r.Dword();  // help
        r.Dword();  // extended style
        const std::uint32_t style = r.Dword();
        EXPECT_EQ((style & WS_CAPTION) == WS_CAPTION, !(dialog->style & dialogstyle::NoCaption));
        EXPECT_EQ(r.Word(), dialog->controls.size());
        r.Short();
        r.Short();
        EXPECT_EQ(r.Short(), dialog->cx);
        EXPECT_EQ(r.Short(), dialog->cy);
        EXPECT_EQ(r.SzOrOrd(), L"");
        EXPECT_EQ(r.SzOrOrd(), L"");
        EXPECT_EQ(r.SzOrOrd(), Widen(dialog->caption));
        EXPECT_EQ(r.Word(), dialog->fontPoints);
        r.Word();
        r.Word();
        EXPECT_EQ(r.SzOrOrd(), kDialogFace);
        for (const ControlTemplate& row : dialog->controls) {
            SCOPED_TRACE(row.id);
            r.AlignDword();
            r.Dword();
            r.Dword();
            const std::uint32_t itemStyle = r.Dword();
            EXPECT_EQ((itemStyle & WS_VISIBLE) != 0, !(row.style & style::Hidden));
            EXPECT_EQ((itemStyle & WS_TABSTOP) != 0, (row.style & style::TabStop) != 0);
            EXPECT_EQ(r.Short(), row.x);
            EXPECT_EQ(r.Short(), row.y);
            EXPECT_EQ(r.Short(), row.cx);
            EXPECT_EQ(r.Short(), row.cy);
            EXPECT_EQ(r.Dword(), row.id == IDC_STATIC ? 0xFFFFu : static_cast<std::uint32_t>(row.id));
            const std::wstring cls = r.SzOrOrd();
            if (row.kind == ControlKind::Custom) {
                EXPECT_EQ(cls, Widen(row.windowClass));
                EXPECT_EQ((itemStyle & IPAS_NOVALIDATE) != 0, (row.style & style::NoValidate) != 0);
            }
            const std::wstring text = r.SzOrOrd();
            if (row.kind == ControlKind::Image || row.kind == ControlKind::Icon)
                EXPECT_EQ(text, L"#" + std::to_wstring(row.resource));
            else
                EXPECT_EQ(text, Widen(row.text));
            EXPECT_EQ(r.Word(), 0);  // no creation data
        }
        EXPECT_TRUE(r.AtEnd());
    }
}

TEST(Win32MessageBox, FlagsOfButtonsIconsAndDefaults)
{
    struct Case {
        MsgButtons buttons;
        MsgIcon icon;
        int defaultButton;
        UINT flags;
    } const cases[] = {
        {MsgButtons::Ok, MsgIcon::None, 0, MB_OK | MB_ICONEXCLAMATION},
        {MsgButtons::OkCancel, MsgIcon::Question, 1, MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2},
        {MsgButtons::YesNo, MsgIcon::Information, 0, MB_YESNO | MB_ICONINFORMATION},
        {MsgButtons::YesNoCancel, MsgIcon::Stop, 2, MB_YESNOCANCEL | MB_ICONSTOP | MB_DEFBUTTON3},
    };
    for (const Case& c : cases) EXPECT_EQ(MessageBoxFlags(c.buttons, c.icon, c.defaultButton), c.flags);
}

TEST(Win32WindowClock, InputIsDroppedPaintAndCallsAreNot)
{
    for (UINT message : {WM_KEYDOWN, WM_CHAR, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONUP, WM_MOUSEWHEEL,
                         WM_NCLBUTTONDOWN, WM_CONTEXTMENU})
        EXPECT_TRUE(IsUserInputMessage(message)) << message;
    for (UINT message : {WM_PAINT, WM_TIMER, WM_MOUSEMOVE, WM_APP + 1, WM_SETCURSOR, WM_NCPAINT})
        EXPECT_FALSE(IsUserInputMessage(message)) << message;
}

TEST(Win32Help, TopicsLieBesideTheProgramWithTheContentsForUnknownNumbers)
{
    // No help folder beside the test: every number falls back to contents.
    for (int context : {0, 1, 31, 9999}) {
        const std::wstring path = HelpTopicPath(context);
        EXPECT_NE(path.find(L"\\help\\contents.html"), std::wstring::npos) << context;
    }
}

// ---- With a display: the dialogs as the dialog manager makes them.

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// The main window's dialog as the dialog manager makes it, with the
// window's own control classes and the list's.
HWND MakeMainDialog()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterIPAddrClass(instance) || !RegisterClipClass(instance)) return nullptr;
    const std::vector<std::uint16_t> words = BuildDialogTemplate(MainDialogTemplate());
    return CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr, QuietProc, 0);
}

// The dialog as the main window makes it (its table with the rows it
// adjusts: step 2 disabled).
HWND MakeMainWindow()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterIPAddrClass(instance)) return nullptr;
    const std::vector<std::uint16_t> words = BuildMainWindowTemplate();
    return CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr, QuietProc, 0);
}

TEST(Win32DialogGeometry, EveryControlIsWhereItsRowPutsIt)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: Wine makes no window without one";
    HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    ASSERT_TRUE(RegisterIPAddrClass(instance));
    ASSERT_TRUE(RegisterClipClass(instance));
    for (const DialogTemplate* dialog : kAllDialogs) {
        SCOPED_TRACE(dialog->id);
        const std::vector<std::uint16_t> words = BuildDialogTemplate(*dialog);
        HWND window = CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr,
                                                 QuietProc, 0);
        ASSERT_NE(window, nullptr);
        RECT size{0, 0, dialog->cx, dialog->cy};
        MapDialogRect(window, &size);
        RECT client;
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);
        HWND child = GetWindow(window, GW_CHILD);
        for (const ControlTemplate& row : dialog->controls) {
            SCOPED_TRACE(row.id);
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(GetDlgCtrlID(child), row.id == IDC_STATIC ? 0xFFFF : row.id);
            // The dialog manager converts the place and the size each on
            // its own (not the far corner), so that is what is compared.
            RECT place{row.x, row.y, row.cx, row.cy};
            MapDialogRect(window, &place);
            RECT actual;
            GetWindowRect(child, &actual);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
            EXPECT_EQ(actual.left, place.left);
            EXPECT_EQ(actual.top, place.top);
            // Pictures too: they are scaled to their rows.
            EXPECT_EQ(actual.right - actual.left, place.right);
            EXPECT_EQ(actual.bottom - actual.top, place.bottom);
            child = GetWindow(child, GW_HWNDNEXT);
        }
        DestroyWindow(window);
    }
}

// Every line of the read-only texts shows, also where the dialog face is a
// wider stand-in (as Wine's is): measured with DrawText, apart from how the
// field counts its lines.
TEST(Win32DialogGeometry, EveryLineOfTheTextFieldsShows)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: Wine makes no window without one";
    HWND window = MakeMainDialog();
    ASSERT_NE(window, nullptr);
    const std::pair<int, int> fields[] = {{IDC_STEP1_TEXT, IDS_TEXT_STEP1},
                                          {IDC_STEP2_TEXT, IDS_TEXT_STEP2},
                                          {IDC_LISTENING, IDS_TEXT_LISTENING},
                                          {IDC_RESTART_HINT, IDS_TEXT_RESTART_HINT}};
    std::vector<HFONT> made;
    for (const auto& [id, text] : fields) {
        SCOPED_TRACE(id);
        HWND field = GetDlgItem(window, id);
        SendMessageW(field, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(1, 1));
        const std::wstring wide = Widen(TextOf(text));
        SetWindowTextW(field, wide.c_str());
        if (HFONT font = FitTextToField(field, 1)) made.push_back(font);
        RECT area;
        SendMessageW(field, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
        RECT needed{0, 0, area.right - area.left, 0};
        HDC dc = GetDC(field);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(field, WM_GETFONT, 0, 0)));
        DrawTextW(dc, wide.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(field, dc);
        EXPECT_LE(needed.bottom, area.bottom - area.top);
    }
    DestroyWindow(window);
    for (HFONT font : made) DeleteObject(font);
}

// A picture made smaller keeps its thin lines: a one-pixel line every
// third column, shown at two thirds of its size, leaves its share of ink
// in every pair of columns (a stretch that picks pixels drops a line or
// doubles it: a pair then has none or twice its share).
TEST(Win32DialogGeometry, APictureMadeSmallerKeepsItsThinLines)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: Wine makes no window without one";
    constexpr int kWidth = 90, kHeight = 30;
    HWND picture =
        CreateWindowExW(0, L"STATIC", nullptr, WS_POPUP | SS_BITMAP | SS_REALSIZECONTROL, 0, 0, kWidth * 2 / 3,
                        kHeight * 2 / 3, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(picture, nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP source = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(source, nullptr);
    auto* pixels = static_cast<std::uint32_t*>(bits);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) pixels[y * kWidth + x] = x % 3 == 2 ? 0x000000 : 0xFFFFFF;
    SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(source));
    SetWindowPos(picture, nullptr, 0, 0, kWidth * 2 / 3, kHeight * 2 / 3, SWP_NOMOVE | SWP_NOZORDER);
    HBITMAP made = ScalePictureToControl(picture);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)), made);
    constexpr int kShownWidth = kWidth * 2 / 3, kShownHeight = kHeight * 2 / 3;
    std::vector<std::uint32_t> shown(kShownWidth * kShownHeight);
    info.bmiHeader.biWidth = kShownWidth;
    info.bmiHeader.biHeight = -kShownHeight;
    HDC dc = GetDC(nullptr);
    ASSERT_EQ(GetDIBits(dc, made, 0, kShownHeight, shown.data(), &info, DIB_RGB_COLORS), kShownHeight);
    ReleaseDC(nullptr, dc);
    const int row = kShownHeight / 2;
    for (int pair = 0; pair + 1 < kShownWidth; pair += 2) {
        SCOPED_TRACE(pair);
        int light = 0;
        for (int x : {pair, pair + 1}) light += static_cast<int>(shown[row * kShownWidth + x] & 0xFF);
        // Two thirds of two white pixels: 340 of 510.
        EXPECT_NEAR(light, 340, 60);
    }
    DestroyWindow(picture);
    DeleteObject(made);
}

// The geometry tests run at 96 dpi and, in a prefix of their own, at 144
// (TESSEL_TEST_DPI): the screen must be at the dpi asked for.
TEST(Win32DialogGeometry, TheScreenIsAtTheDpiAskedFor)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: Wine makes no window without one";
    const char* asked = std::getenv("TESSEL_TEST_DPI");
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), asked ? std::atoi(asked) : 96);
    ReleaseDC(nullptr, dc);
}

// Each column holds every text it shows whole (else the list cuts it with
// "..."): the list's own automatic width for them is no wider than the
// column, which is 140 pixels at 96 dpi and grows with the dpi.
TEST(Win32DialogGeometry, TheListsColumnsShowTheirTextsWhole)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: Wine makes no window without one";
    HWND window = MakeMainDialog();
    ASSERT_NE(window, nullptr);
    HWND list = GetDlgItem(window, IDC_SERVER_LIST);
    {
        ServerListMirror mirror([](std::function<void()> call) { call(); });
        mirror.SetUp(list);
        const std::pair<int, int> rows[] = {{IDS_COLUMN_SERIAL, IDS_COLUMN_ADDRESS},
                                            {IDS_NOTE_SCANNING, IDS_NOTE_PLEASE_WAIT},
                                            {IDS_NOTE_RUNNING, IDS_NOTE_DHCP_SERVERS},
                                            {IDS_NOTE_PREVENTS, IDS_NOTE_ADDRESSES}};
        int at = 0;
        for (const auto& [serial, address] : rows)
            mirror.OnRowInserted(at++, ServerRow{TextOf(serial), TextOf(address)});
        mirror.OnRowInserted(at, ServerRow{"0D-DD-DD-DD-DD-DD", "255.255.255.255"});
        HDC dc = GetDC(list);
        const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
        ReleaseDC(list, dc);
        for (int column = 0; column < 2; ++column) {
            SCOPED_TRACE(column);
            const int width = ListView_GetColumnWidth(list, column);
            EXPECT_EQ(width, MulDiv(kServerListColumnWidth, dpi, 96));
            ListView_SetColumnWidth(list, column, LVSCW_AUTOSIZE);
            EXPECT_LE(ListView_GetColumnWidth(list, column), width);
        }
        DestroyWindow(window);
    }
}

TEST(Win32AddressControl, ThreeDigitsFitEveryFieldAndTheAddressRoundTrips)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: Wine makes no window without one";
    HWND window = MakeMainWindow();
    ASSERT_NE(window, nullptr);
    HWND control = GetDlgItem(window, 1025);
    // The window makes the control disabled, its fields with it, until a
    // server is picked.
    for (int n = 1; n <= kIPAddrFields; ++n) EXPECT_FALSE(IsWindowEnabled(IPAddrField(control, n))) << "field " << n;
    EnableWindow(control, TRUE);
    for (int n = 1; n <= kIPAddrFields; ++n) EXPECT_TRUE(IsWindowEnabled(IPAddrField(control, n))) << "field " << n;
    const std::uint8_t bytes[4] = {255, 188, 100, 0};
    EXPECT_EQ(SendMessageW(control, IPAM_SETADDRESS, 0, reinterpret_cast<LPARAM>(bytes)), 1);
    IPAddrData data;
    EXPECT_EQ(SendMessageW(control, IPAM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&data)), 1);
    EXPECT_EQ(data.octets, (std::array<std::uint8_t, 4>{255, 188, 100, 0}));
    for (int n = 1; n <= kIPAddrFields; ++n) {
        HWND field = IPAddrField(control, n);
        SetWindowTextW(field, L"888");
        // The widest three digits in the font, inside the field's text area.
        RECT area;
        SendMessageW(field, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
        HDC dc = GetDC(field);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(field, WM_GETFONT, 0, 0)));
        SIZE text{};
        GetTextExtentPoint32W(dc, L"888", 3, &text);
        SelectObject(dc, old);
        ReleaseDC(field, dc);
        EXPECT_LE(text.cx, area.right - area.left) << "field " << n;
        // Whole in height too, inside the field as it shows on the screen.
        RECT client;
        GetClientRect(field, &client);
        EXPECT_GE(area.top, 0) << "field " << n;
        EXPECT_LE(area.top + text.cy, client.bottom) << "field " << n;
    }
    DestroyWindow(window);
}

// Each field's name as a screen reader asks for it: the window's object
// (WM_GETOBJECT), then its name.
TEST(Win32AddressControl, EachFieldHasItsAccessibleName)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: Wine makes no window without one";
    HINSTANCE instance = GetModuleHandleW(nullptr);
    ASSERT_TRUE(RegisterIPAddrClass(instance));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<std::uint16_t> words = BuildDialogTemplate(MainDialogTemplate());
    HWND window =
        CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr, QuietProc, 0);
    ASSERT_NE(window, nullptr);
    HWND control = GetDlgItem(window, 1025);
    for (int n = 1; n <= kIPAddrFields; ++n) {
        IAccessible* object = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(IPAddrField(control, n), static_cast<DWORD>(OBJID_CLIENT),
                                             __uuidof(IAccessible), reinterpret_cast<void**>(&object)),
                  S_OK)
            << "field " << n;
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        EXPECT_EQ(object->get_accName(self, &name), S_OK);
        EXPECT_EQ(std::wstring(name ? name : L""), L"IP address, field " + std::to_wstring(n) + L" of 4");
        SysFreeString(name);
        object->Release();
    }
    DestroyWindow(window);
}

// Keys as the keyboard gives them (SendInput), through the window's own
// loop: the dot typed after a field that stepped on by itself is the
// separator, so the address typed over the proposal is the one read.
TEST(Win32AddressControl, AnAddressTypedOverTheProposalIsTheAddressRead)
{
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: Wine makes no window without one";
    HWND window = MakeMainWindow();
    ASSERT_NE(window, nullptr);
    HWND control = GetDlgItem(window, IDC_IPADDRESS);
    EnableWindow(control, TRUE);
    const std::uint8_t proposal[4] = {192, 77, 0, 150};
    SendMessageW(control, IPAM_SETADDRESS, 0, reinterpret_cast<LPARAM>(proposal));
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    // Runs the window's loop until the input sent so far is handled.
    const auto pump = [window] {
        for (int round = 0; round < 20; ++round) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (IsDialogMessageW(window, &msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(10);
        }
    };
    pump();
    // Into the control as Tab from the list does: field 1, its text selected.
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    pump();
    ASSERT_EQ(GetFocus(), IPAddrField(control, 1));
    for (const char c : std::string("192.168.1.50")) {
        const WORD key = LOBYTE(VkKeyScanW(static_cast<wchar_t>(c)));
        INPUT press[2]{};
        for (INPUT& input : press) {
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = key;
        }
        press[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ASSERT_EQ(SendInput(2, press, sizeof(INPUT)), 2u) << c;
        pump();
    }
    std::array<std::wstring, kIPAddrFields> texts;
    for (int n = 1; n <= kIPAddrFields; ++n) {
        wchar_t text[8] = {};
        GetWindowTextW(IPAddrField(control, n), text, 8);
        texts[static_cast<std::size_t>(n - 1)] = text;
    }
    EXPECT_EQ(texts, (std::array<std::wstring, kIPAddrFields>{L"192", L"168", L"1", L"50"}));
    IPAddrData data;
    EXPECT_EQ(SendMessageW(control, IPAM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&data)), 1);
    EXPECT_EQ(data.octets, (std::array<std::uint8_t, 4>{192, 168, 1, 50}));
    DestroyWindow(window);
}

}  // namespace
}  // namespace tessel
