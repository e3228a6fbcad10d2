#include "win32/ipaddr_win.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>

#include "controls/ipaddr_rules.h"
#include "resources/texts.h"
#include "win32/dialog_template_win.h"
#include "win32/messagebox_win.h"

namespace tessel {
namespace {

constexpr const wchar_t* kClassName = L"IPAddr";
constexpr UINT_PTR kFieldSubclass = 1;
// The edit field's own margins would scroll three wide digits out of a
// field of 15 dialog units; two pixels a side keep them whole.
constexpr int kFieldMargin = 1;

class CIPAddrWin final : public IPAddrView {
public:
    CIPAddrWin(HWND hwnd, DWORD style) : m_hwnd(hwnd), m_rules(*this, style & IPAS_NOVALIDATE) {}

    HWND Field(int n) const
    {
        return n >= 1 && n <= kIPAddrFields ? m_fields[static_cast<std::size_t>(n - 1)] : nullptr;
    }
    IpAddrRules& Rules() { return m_rules; }
    HFONT m_font = nullptr;
    std::array<HWND, kIPAddrFields> m_fields{};

    std::string FieldText(int n) const override
    {
        wchar_t text[16] = {};
        GetWindowTextW(Field(n), text, 16);
        return Narrow(text);
    }
    void SetFieldText(int n, const std::string& text) override
    {
        SetWindowTextW(Field(n), Widen(text.c_str()).c_str());
        SendMessageW(Field(n), EM_SETSEL, 0, 0);
    }
    void FocusField(int n, bool selectAll) override
    {
        SetFocus(Field(n));
        if (selectAll) SendMessageW(Field(n), EM_SETSEL, 0, -1);
    }
    void LeaveControl(bool backwards) override
    {
        HWND dialog = GetParent(m_hwnd);
        if (HWND next = GetNextDlgTabItem(dialog, m_hwnd, backwards ? TRUE : FALSE))
            SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
    }
    void ReportBadValue(int textId, const std::string& value) override
    {
        const std::string text = FormatText(textId, value);
        Win32Box box;
        box.owner = m_hwnd;
        box.caption = TextOf(IDS_IPADDR_CAPTION);
        box.text = text;
        box.icon = MsgIcon::Exclamation;
        ShowWin32Box(box);
    }
    void Beep() override { MessageBeep(MB_OK); }
    bool Editable() const override { return !(GetWindowLongW(Field(1), GWL_STYLE) & ES_READONLY); }

    // Where each field goes for the control's size and face, left to right.
    std::array<RECT, kIPAddrFields> FieldRects() const
    {
        RECT client;
        GetClientRect(m_hwnd, &client);
        const Metrics m = Measure(client);
        std::array<RECT, kIPAddrFields> rects{};
        for (int n = 0; n < kIPAddrFields; ++n)
            rects[static_cast<std::size_t>(n)] = {n * (m.field + m.dot), m.top, n * (m.field + m.dot) + m.field,
                                                  m.bottom};
        return rects;
    }
    // Moves only the fields that are not where they belong: the dialog
    // sizes the control and then gives it the face it was measured with,
    // and under Wine every move is a round of messages before the window
    // can be shown.
    void Layout()
    {
        const std::array<RECT, kIPAddrFields> places = FieldRects();
        for (int i = 0; i < kIPAddrFields; ++i) {
            const RECT& place = places[static_cast<std::size_t>(i)];
            HWND field = m_fields[static_cast<std::size_t>(i)];
            RECT now;
            GetWindowRect(field, &now);
            MapWindowPoints(HWND_DESKTOP, m_hwnd, reinterpret_cast<POINT*>(&now), 2);
            if (!EqualRect(&now, &place))
                MoveWindow(field, place.left, place.top, place.right - place.left, place.bottom - place.top, TRUE);
        }
    }
    // The face the control draws and measures with: its own once it has one;
    // before that (the dialog sizes the control before it gives it the
    // font) the dialog's, which is already made, rather than the GUI face,
    // whose first use costs a font of its own at start-up.
    HGDIOBJ Face() const
    {
        if (m_font) return m_font;
        if (HWND parent = GetParent(m_hwnd))
            if (auto font = reinterpret_cast<HFONT>(SendMessageW(parent, WM_GETFONT, 0, 0))) return font;
        return GetStockObject(DEFAULT_GUI_FONT);
    }
    // The fields are one line of the font high, in the middle of the
    // control, and the dots sit on the same line: the control is taller
    // than a line (at 144 dpi by half a line), and a field draws its text
    // at its top. Between the fields a dot and a pixel each side; the
    // fields share what is left of the width.
    struct Metrics {
        int field;
        int dot;
        int top;
        int bottom;
    };
    Metrics Measure(const RECT& client) const
    {
        HDC dc = GetDC(m_hwnd);
        HGDIOBJ old = SelectObject(dc, Face());
        TEXTMETRICW text{};
        GetTextMetricsW(dc, &text);
        SIZE size{};
        GetTextExtentPoint32W(dc, L".", 1, &size);
        SelectObject(dc, old);
        ReleaseDC(m_hwnd, dc);
        const int height = std::min<int>(text.tmHeight, client.bottom);
        const int top = (client.bottom - height) / 2;
        const int dot = size.cx + 2;
        return {(client.right - 3 * dot) / kIPAddrFields, dot, top, top + height};
    }
    void Paint()
    {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(m_hwnd, &ps);
        RECT client;
        GetClientRect(m_hwnd, &client);
        const bool enabled = IsWindowEnabled(m_hwnd);
        FillRect(dc, &client, GetSysColorBrush(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
        const Metrics metrics = Measure(client);
        HGDIOBJ old = SelectObject(dc, Face());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
        const int step = metrics.field + metrics.dot;
        for (int j = 0; j < 3; ++j) {
            RECT r{metrics.field + j * step, metrics.top, metrics.field + j * step + metrics.dot, metrics.bottom};
            DrawTextW(dc, L".", 1, &r, DT_CENTER | DT_BOTTOM | DT_SINGLELINE);
        }
        SelectObject(dc, old);
        EndPaint(m_hwnd, &ps);
    }

private:
    HWND m_hwnd;
    IpAddrRules m_rules;
};

CIPAddrWin* ControlOf(HWND hwnd)
{
    return reinterpret_cast<CIPAddrWin*>(GetWindowLongPtrW(hwnd, 0));
}

bool ClipboardText(HWND owner, std::string& text)
{
    if (!OpenClipboard(owner)) return false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = Narrow(wide);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return true;
}

// The accessibility calls, from DLLs loaded on the first request: a
// program start that no screen reader asks anything of loads none of them.
struct AccessibilityApi {
    decltype(&CoInitializeEx) coInitializeEx = nullptr;
    decltype(&CreateStdAccessibleObject) createStdAccessibleObject = nullptr;
    decltype(&LresultFromObject) lresultFromObject = nullptr;
    decltype(&SysAllocString) sysAllocString = nullptr;
};

template <typename Function>
void Resolve(const wchar_t* dll, const char* name, Function& function)
{
    HMODULE module = LoadLibraryW(dll);
    // Through the one function type the compiler lets any other come from.
    if (module) function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const AccessibilityApi* Accessibility()
{
    static const AccessibilityApi api = [] {
        AccessibilityApi found;
        Resolve(L"ole32.dll", "CoInitializeEx", found.coInitializeEx);
        Resolve(L"oleacc.dll", "CreateStdAccessibleObject", found.createStdAccessibleObject);
        Resolve(L"oleacc.dll", "LresultFromObject", found.lresultFromObject);
        Resolve(L"oleaut32.dll", "SysAllocString", found.sysAllocString);
        return found;
    }();
    const bool complete =
        api.coInitializeEx && api.createStdAccessibleObject && api.lresultFromObject && api.sysAllocString;
    return complete ? &api : nullptr;
}

// A field's accessible object for screen readers (Active Accessibility):
// the system's own object for an edit field, with the field's name. A
// field has no label of its own (the step text names the whole control),
// so without this a reader says "edit" four times.
class FieldAccessible final : public IAccessible {
public:
    FieldAccessible(IAccessible* inner, int n) : m_inner(inner), m_name(FieldAccessibleName(n)) {}

    // IUnknown: one identity, the three interfaces a client asks for.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

    // The name: ours for the field itself; everything else the system's.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        if (!name) return E_POINTER;
        if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) return m_inner->get_accName(child, name);
        *name = Accessibility()->sysAllocString(m_name.c_str());
        return *name ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return m_inner->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override
    {
        return m_inner->GetTypeInfo(index, lcid, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        return m_inner->GetIDsOfNames(iid, names, count, lcid, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override
    {
        return m_inner->Invoke(id, iid, lcid, flags, params, result, exception, argError);
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return m_inner->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return m_inner->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override
    {
        return m_inner->get_accChild(child, out);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return m_inner->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        return m_inner->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        return m_inner->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        return m_inner->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        return m_inner->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override
    {
        return m_inner->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        return m_inner->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override { return m_inner->get_accFocus(focus); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        return m_inner->get_accSelection(selection);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        return m_inner->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override { return m_inner->accSelect(flags, child); }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        return m_inner->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override
    {
        return m_inner->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override
    {
        return m_inner->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return m_inner->accDoDefaultAction(child); }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override
    {
        return m_inner->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return m_inner->put_accValue(child, value);
    }

private:
    ~FieldAccessible() { m_inner->Release(); }

    LONG m_refs = 1;
    IAccessible* m_inner;
    std::wstring m_name;
};

// Answers WM_GETOBJECT for a field's client object; 0 lets the system
// answer the rest.
LRESULT FieldObject(HWND field, int n, WPARAM wParam, LPARAM lParam)
{
    const AccessibilityApi* api = Accessibility();
    if (static_cast<LONG>(lParam) != OBJID_CLIENT || !api) return 0;
    // Handing the object over needs COM on this thread; it stays for the
    // thread's life, as the objects handed out may.
    static thread_local const HRESULT com = api->coInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com) && com != RPC_E_CHANGED_MODE) return 0;
    IAccessible* inner = nullptr;
    if (FAILED(api->createStdAccessibleObject(field, OBJID_CLIENT, __uuidof(IAccessible),
                                              reinterpret_cast<void**>(&inner))))
        return 0;
    auto* object = new FieldAccessible(inner, n);
    const LRESULT result = api->lresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(object));
    object->Release();
    return result;
}

LRESULT CALLBACK FieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    auto* control = reinterpret_cast<CIPAddrWin*>(data);
    const int n = GetDlgCtrlID(field);
    switch (message) {
    case WM_GETDLGCODE:
        // Tab and Enter come to the field, which hands them to the rules.
        return DefSubclassProc(field, message, wParam, lParam) | DLGC_WANTALLKEYS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) return SendMessageW(GetParent(GetParent(field)), WM_COMMAND, IDCANCEL, 0);
        if (wParam == VK_LEFT || wParam == VK_RIGHT) {
            DWORD start = 0, end = 0;
            SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
            const LRESULT result = DefSubclassProc(field, message, wParam, lParam);
            control->Rules().OnArrow(n, wParam == VK_RIGHT, static_cast<int>(end));
            return result;
        }
        if (wParam == VK_INSERT && (GetKeyState(VK_SHIFT) & 0x8000)) {
            std::string text;
            if (ClipboardText(field, text) && !control->Rules().OnPaste(text)) return 0;
        }
        break;
    case WM_CHAR: {
        const int character = static_cast<int>(wParam);
        if (ActionOfChar(character) == FieldCharAction::ToWindow) return 0;
        if (!control->Rules().OnChar(n, character, GetKeyState(VK_SHIFT) & 0x8000)) return 0;
        if (character == kCharPaste) {
            std::string text;
            if (ClipboardText(field, text) && !control->Rules().OnPaste(text)) return 0;
        }
        const LRESULT result = DefSubclassProc(field, message, wParam, lParam);
        control->Rules().AfterEdit(n);
        return result;
    }
    case WM_PASTE: {
        std::string text;
        if (ClipboardText(field, text) && !control->Rules().OnPaste(text)) return 0;
        break;
    }
    case WM_KILLFOCUS:
        control->Rules().OnFieldLeft(n);
        break;
    case WM_GETOBJECT:
        if (const LRESULT object = FieldObject(field, n, wParam, lParam)) return object;
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(field, FieldProc, kFieldSubclass);
        break;
    default:
        break;
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CIPAddrWin* control = ControlOf(hwnd);
    switch (message) {
    case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        control = new CIPAddrWin(hwnd, static_cast<DWORD>(create->style));
        SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(control));
        // Made where they belong, and disabled with a control made disabled
        // (WM_ENABLE keeps them so).
        const std::array<RECT, kIPAddrFields> places = control->FieldRects();
        const DWORD disabled = create->style & WS_DISABLED;
        for (int n = 1; n <= kIPAddrFields; ++n) {
            const RECT& place = places[static_cast<std::size_t>(n - 1)];
            HWND field = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_CENTER | disabled, place.left,
                                         place.top, place.right - place.left, place.bottom - place.top, hwnd,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(n)), create->hInstance, nullptr);
            SendMessageW(field, EM_LIMITTEXT, kIPAddrFieldChars, 0);
            SetWindowSubclass(field, FieldProc, kFieldSubclass, reinterpret_cast<DWORD_PTR>(control));
            control->m_fields[static_cast<std::size_t>(n - 1)] = field;
        }
        return 0;
    }
    case WM_NCDESTROY:
        delete control;
        SetWindowLongPtrW(hwnd, 0, 0);
        break;
    case WM_SETFONT:
        if (!control) break;
        control->m_font = reinterpret_cast<HFONT>(wParam);
        for (HWND field : control->m_fields) {
            SendMessageW(field, WM_SETFONT, wParam, lParam);
            // After the font: it sets the margins back to the font's own.
            SendMessageW(field, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(kFieldMargin, kFieldMargin));
        }
        control->Layout();
        return 0;
    case WM_SIZE:
        if (control) control->Layout();
        return 0;
    case WM_SETFOCUS:
        if (control) control->FocusField(1, true);
        return 0;
    case WM_ENABLE:
        if (control)
            for (HWND field : control->m_fields) EnableWindow(field, static_cast<BOOL>(wParam));
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_PAINT:
        if (control) {
            control->Paint();
            return 0;
        }
        break;
    case IPAM_GETADDRESS:
        return control ? control->Rules().GetAddress(wParam != 0, reinterpret_cast<IPAddrData*>(lParam)) : 0;
    case IPAM_SETADDRESS:
        return control ? control->Rules().SetAddress(reinterpret_cast<const std::uint8_t*>(lParam)) : 0;
    case IPAM_SETREADONLY:
        if (control)
            for (HWND field : control->m_fields) SendMessageW(field, EM_SETREADONLY, wParam, 0);
        return 1;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

bool RegisterIPAddrClass(HINSTANCE instance)
{
    return RegisterControlClass(instance, ControlProc, kClassName, reinterpret_cast<LPCWSTR>(IDC_IBEAM));
}

HWND IPAddrField(HWND control, int n)
{
    return GetDlgItem(control, n);
}

std::wstring FieldAccessibleName(int n)
{
    return L"IP address, field " + std::to_wstring(n) + L" of " + std::to_wstring(kIPAddrFields);
}

}  // namespace tessel
