#include "resources/dialogs.h"

#include "resources/resource.h"

namespace tessel {
namespace {

using K = ControlKind;
namespace s = style;

constexpr ControlTemplate kAboutControls[] = {
    {IDC_STATIC, K::Icon, "", 16, 17, 20, 20, 0, IDR_MAINFRAME, nullptr},
    {IDC_STATIC, K::Text, "MERROW Tessel\nVersion 1.51", 48, 20, 68, 18, s::NoPrefix, 0, nullptr},
    {IDC_ABOUT_OK, K::PushButton, "OK", 152, 20, 48, 17, s::DefaultButton | s::TabStop, 0, nullptr},
};

constexpr DialogTemplate kAboutBox{IDD_ABOUTBOX, "MERROW Tessel", 8, 222, 84, dialogstyle::SystemMenu, kAboutControls};

// The main window, in tab and creation order.
constexpr ControlTemplate kMainControls[] = {
    {IDC_SERVER_LIST, K::ListView, "", 89, 38, 150, 70,
     s::SingleSelection | s::ShowSelectionAlways | s::SortAscending | s::NoSortHeader | s::ClientEdge | s::TabStop, 0,
     nullptr},
    {IDC_IPADDRESS, K::Custom, "", 89, 192, 68, 13, s::Border | s::TabStop | s::NoValidate, 0, kIPAddrClass},
    {IDC_SET_IP, K::PushButton, "&Set IP address", 171, 192, 68, 13, s::DefaultButton | s::TabStop, 0, nullptr},
    {ID_HELP, K::PushButton, "&Help", 260, 184, 51, 14, s::TabStop, 0, nullptr},
    {IDC_CLOSE, K::PushButton, "&Close", 260, 200, 51, 14, s::TabStop, 0, nullptr},
    {IDC_HOMEPAGE_SELECTED, K::PushButton, "Home page of selected MERROW-server...", 89, 115, 150, 13,
     s::Center | s::TabStop, 0, nullptr},
    {IDC_MERROW_HOMEPAGE, K::PushButton, kMakerWebHost, 260, 27, 51, 10,
     s::Flat | s::Transparent | s::Center | s::TabStop, 0, nullptr},
    {IDC_LOGFILE, K::CheckBox, "Logfile", 263, 160, 42, 10, s::TabStop, 0, nullptr},
    {IDC_VERSION, K::Text, kVersionText, 8, 176, 55, 10, 0, 0, nullptr},
    {IDC_BANNER, K::Image, "", 7, 10, 58, 165, 0, IDB_BANNER, nullptr},
    {IDC_STEP1_MARKER, K::Image, "", 73, 9, 10, 18, 0, IDB_STEP1, nullptr},
    {IDC_STEP2_MARKER, K::Image, "", 73, 151, 10, 18, 0, IDB_STEP2, nullptr},
    {IDC_LOGO, K::Image, "", 260, 7, 51, 19, 0, IDB_LOGO, nullptr},
    {IDC_ANIMATION, K::Animation, "", 263, 76, 42, 22, s::Center | s::Transparent, IDR_ANIMATION, nullptr},
    {IDC_STATIC, K::GrayFrame, "", 260, 49, 51, 122, 0, 0, nullptr},
    {IDC_STATIC, K::GroupBox, "", 84, 6, 162, 128, 0, 0, nullptr},
    {IDC_RESTART_HINT, K::Edit, "", 263, 106, 46, 42, s::ReadOnly | s::MultiLine, 0, nullptr},
    {IDC_LISTENING, K::Edit, "", 263, 50, 46, 24, s::ReadOnly | s::MultiLine, 0, nullptr},
    {IDC_STEP1_TEXT, K::Edit, "", 89, 14, 154, 16, s::ReadOnly | s::MultiLine, 0, nullptr},
    {IDC_STEP2_TEXT, K::Edit, "", 89, 168, 154, 16, s::ReadOnly | s::MultiLine, 0, nullptr},
    {IDC_STATIC, K::GroupBox, "", 84, 148, 162, 66, 0, 0, nullptr},
    {IDC_STATUS, K::Edit, "", 89, 156, 150, 12, s::ReadOnly, 0, nullptr},
    {IDC_ONLY_MERROW, K::CheckBox, "Merrow only", 263, 151, 42, 10, s::Hidden, 0, nullptr},
};

constexpr DialogTemplate kMainDialog{
    IDD_TESSEL_DIALOG,
    kMainCaption,
    10,
    316,
    222,
    dialogstyle::SystemMenu | dialogstyle::MinimizeBox | dialogstyle::Centered | dialogstyle::TaskbarButton,
    kMainControls};

constexpr ControlTooltip kMainTooltips[] = {
    {ID_HELP, "Launches help file"},
    {IDC_CLOSE, "Exits the program"},
    {IDC_HOMEPAGE_SELECTED, "Launches Web browser"},
    {IDC_MERROW_HOMEPAGE, "Click here to go to Merrow home page"},
    {IDC_SET_IP, "Sets InternetProtocol address of selected server"},
    {IDC_STEP1_TEXT, "Serial number: Label on the cover's under side;  Restart: Powered off and on"},
    {IDC_SERVER_LIST, "Click on your MERROW-server (left column) "},
    {IDC_STEP2_TEXT, "Contact your network administrator if you do not know the IP address"},
    {IDC_IPADDRESS, "Specify a value between 0 and 255 for each field"},
    {IDC_LISTENING, "Monitors the network, but in the background and without generating any traffic"},
    {IDC_RESTART_HINT, "Powered off and then on again for example"},
    {IDC_ONLY_MERROW, "Display only Merrow servers"},
    {IDC_LOGFILE, "Support logfile"},
};

constexpr int kProgressFont = 8;
constexpr std::uint32_t kNoticeStyle = dialogstyle::NoCaption | dialogstyle::Centered;

constexpr ControlTemplate kValidatingControls[] = {
    {IDC_STATIC, K::Text, kValidatingText, 12, 10, 140, 50, s::NoPrefix, 0, nullptr},
    {IDC_STATIC, K::Text, "ICMP", 12, 68, 40, 9, s::Disabled, 0, nullptr},
};

// The stage text is as high as the longest one (five lines); the labels
// under the bar mark its two ends.
constexpr ControlTemplate kStageControls[] = {
    {IDC_STATIC, K::Text, kSettingTitle, 10, 8, 145, 9, s::Center | s::NoPrefix, 0, nullptr},
    {IDC_STAGE_TEXT, K::Text, kSettingInitialText, 10, 24, 145, 48, s::NoPrefix, 0, nullptr},
    {IDC_STAGE_PROGRESS, K::Custom, "", 10, 78, 145, 11, 0, 0, kProgressClass},
    {IDC_STATIC, K::Text, "0 s", 10, 92, 30, 9, s::NoPrefix, 0, nullptr},
    {IDC_STATIC, K::Text, "10-40 s", 125, 92, 30, 9, s::NoPrefix, 0, nullptr},
    {IDC_STATIC, K::Text, "BOOTP, DHCP", 10, 110, 60, 9, s::Disabled | s::NoPrefix, 0, nullptr},
};

constexpr ControlTemplate kShutdownControls[] = {
    {IDC_STATIC, K::Text, "Please wait while the \nprogram shuts down...", 10, 30, 144, 20, s::Center | s::NoPrefix, 0,
     nullptr},
};

constexpr DialogTemplate kValidating{IDD_VALIDATING, "", kProgressFont, 164, 86, kNoticeStyle, kValidatingControls};
constexpr DialogTemplate kStage{IDD_STAGE, "", kProgressFont, 165, 126, kNoticeStyle, kStageControls};
constexpr DialogTemplate kShutdown{IDD_SHUTDOWN, "", kProgressFont, 164, 84, kNoticeStyle, kShutdownControls};

}  // namespace

const DialogTemplate& ValidatingTemplate()
{
    return kValidating;
}
const DialogTemplate& StageTemplate()
{
    return kStage;
}
const DialogTemplate& ShutdownNoticeTemplate()
{
    return kShutdown;
}

std::span<const ControlTooltip> MainDialogTooltips()
{
    return kMainTooltips;
}

const char* MainDialogTooltip(int id)
{
    for (const ControlTooltip& tip : kMainTooltips) {
        if (tip.id == id) return tip.text;
    }
    return nullptr;
}

const DialogTemplate& AboutBoxTemplate()
{
    return kAboutBox;
}

const DialogTemplate& MainDialogTemplate()
{
    return kMainDialog;
}

}  // namespace tessel
