// The templates of the program's dialogs, one table each (see
// dialogtemplate.h), and the texts that stand in them.
#pragma once

#include "resources/dialogtemplate.h"

namespace tessel {

// The window class of the IP address entry control in the templates.
inline constexpr const char* kIPAddrClass = "IPAddr";
// The maker's web host: the caption of button 1039 and the page it opens.
inline constexpr const char* kMakerWebHost = "merrow.example";
inline constexpr const char* kVersionText = "Version 1.51";
// The main window's caption: the program title after one blank.
inline constexpr const char* kMainCaption = " MERROW Tessel";

// What the main window sets up beyond its table: the server list's two
// columns (serial, address) in pixels; the frames of the clip (control
// 1026) it plays over and over, the first loop of kAnimationFrames, one
// every kAnimationFrameMs; the point size of the maker's web button
// (1039), smaller than the dialog font so that the host name fits its 51
// dialog units.
inline constexpr int kServerListColumnWidth = 140;
inline constexpr int kAnimationFrames = 29;
inline constexpr int kAnimationFirstFrame = 0;
inline constexpr int kAnimationLastFrame = 14;
inline constexpr int kAnimationFrameMs = 167;
inline constexpr int kWebButtonFontPoints = 8;

const DialogTemplate& AboutBoxTemplate();    // IDD_ABOUTBOX
const DialogTemplate& MainDialogTemplate();  // IDD_TESSEL_DIALOG
// The progress windows: caption-less, centred, none can be cancelled.
const DialogTemplate& ValidatingTemplate();      // IDD_VALIDATING
const DialogTemplate& StageTemplate();           // IDD_STAGE
const DialogTemplate& ShutdownNoticeTemplate();  // IDD_SHUTDOWN

// Texts of the progress windows' templates (the "Validating..." notice and
// the stage window's title and first text); the stage texts are numbered.
inline constexpr const char* kValidatingText =
    "                 Validating...\n"
    "\n"
    " (Checking that the IP address\n"
    "  is available and not used by\n"
    "  any host on the network.)";
inline constexpr const char* kSettingTitle = "SETTING IP ADDRESS";
inline constexpr const char* kSettingInitialText = "            Setting IP-address...";

// The window class of the progress bar in the templates (range 0 to 100).
inline constexpr const char* kProgressClass = "msctls_progress32";

// The main window's tooltips, in the order the window matches the control
// under the mouse; a control that is not here has none.
struct ControlTooltip {
    int id;
    const char* text;
};
std::span<const ControlTooltip> MainDialogTooltips();
// The tooltip of a main-window control; null when it has none.
const char* MainDialogTooltip(int id);

}  // namespace tessel
