// The fixed numbers of the windows, their controls and the pictures. The
// command handlers, the templates and the help topics all use these.
#pragma once

namespace tessel {

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_TESSEL_DIALOG = 102;
// The progress windows: "Validating...", the stage window, the shutdown notice.
inline constexpr int IDD_VALIDATING = 131;
inline constexpr int IDD_STAGE = 132;
inline constexpr int IDD_SHUTDOWN = 133;

// Pictures.
inline constexpr int IDR_MAINFRAME = 128;  // the program icon, 32 x 32 and 16 x 16
inline constexpr int IDB_BANNER = 134;     // left banner, 116 x 330
inline constexpr int IDB_LOGO = 147;       // the maker's logo, 102 x 38
inline constexpr int IDB_STEP1 = 149;      // step marker 1, 19 x 35
inline constexpr int IDB_STEP2 = 152;      // step marker 2, 19 x 35
inline constexpr int IDR_ANIMATION = 154;  // 80 x 48, 29 frames

// Commands and controls.
inline constexpr int IDC_ABOUT_OK = 1;   // the About box's OK
inline constexpr int IDC_CLOSE = 2;      // Cancel: the Close button, Escape, the window's close
inline constexpr int IDM_ABOUTBOX = 16;  // system-menu command
inline constexpr int ID_HELP = 57670;
inline constexpr int IDC_SET_IP = 1018;
inline constexpr int IDC_SERVER_LIST = 1024;
inline constexpr int IDC_IPADDRESS = 1025;
inline constexpr int IDC_ANIMATION = 1026;
inline constexpr int IDC_STEP1_MARKER = 1029;
inline constexpr int IDC_STEP2_MARKER = 1030;
inline constexpr int IDC_BANNER = 1032;
inline constexpr int IDC_LOGO = 1033;
inline constexpr int IDC_VERSION = 1034;
inline constexpr int IDC_HOMEPAGE_SELECTED = 1038;
inline constexpr int IDC_MERROW_HOMEPAGE = 1039;
inline constexpr int IDC_LOGFILE = 1042;
inline constexpr int IDC_ONLY_MERROW = 1043;
inline constexpr int IDC_RESTART_HINT = 1051;
inline constexpr int IDC_LISTENING = 1052;
inline constexpr int IDC_STEP1_TEXT = 1053;
inline constexpr int IDC_STEP2_TEXT = 1054;
inline constexpr int IDC_STATUS = 1055;
inline constexpr int IDC_STAGE_TEXT = 1048;      // the stage window's text
inline constexpr int IDC_STAGE_PROGRESS = 1057;  // its bar, 0 to 100

}  // namespace tessel
