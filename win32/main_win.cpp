// tessel.exe: the socket layer, the common controls and our window
// classes, then the main window until it ends. The one parameter the
// program reads is "ink" (the print-system installer's run), with or
// without a leading "-" or "/".
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "platform/sockets.h"
#include "resources/installer_names.h"
#include "resources/texts.h"
#include "win32/clip_win.h"
#include "win32/ipaddr_win.h"
#include "win32/messagebox_win.h"
#include "win32/tesseldlg_win.h"

namespace {

bool InkwellSwitchGiven()
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    bool found = false;
    for (int i = 1; args && i < count; ++i) {
        const wchar_t* arg = args[i];
        if (arg[0] == L'-' || arg[0] == L'/') ++arg;
        if (std::wstring(arg) == tessel::kInkwellSwitchW) found = true;
    }
    LocalFree(args);
    return found;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    using namespace tessel;
    // The socket layer, or no window at all.
    if (SocketStartup() != 0) {
        ShowWin32TextBox(nullptr, IDS_SOCKETS_FAILED);
        return 0;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                                        ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterIPAddrClass(instance);
    RegisterClipClass(instance);
    {
        CTesselDlgWin dlg(InkwellSwitchGiven());
        dlg.Run(instance);
    }
    SocketCleanup();
    return 0;
}
