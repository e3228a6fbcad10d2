#include "workflow/setip_texts.h"

#include <array>

namespace tessel {

namespace {

using B = BoxButtons;
using I = BoxIcon;

const std::array kBoxes{
    BoxText{104, B::Ok, I::Warning, 28, false,
            "No server is chosen!\n"
            "\n"
            "Please select the MERROW-server for which   \n"
            "you want to set the IP address and retry.   "},
    BoxText{105, B::Ok, I::Warning, 23, false,
            "The zero IP address 0.0.0.0 is invalid.   \n"
            "Please enter another IP address and retry.   "},
    BoxText{106, B::Ok, I::Warning, 8, false,
            "The IP address you entered is already being used   \n"
            "by another device connected to your network.   \n"
            "\n"
            "Please enter another IP address and retry.   \n"
            "Press F1 for more help."},
    BoxText{107, B::Ok, I::Error, 12, false,
            "Time out occurred, while waiting for server request.   \n"
            "\n"
            "The server was restarted too long ago, so   \n"
            "please restart your MERROW-server and then retry.   \n"
            "Press F1 for more help."},
    BoxText{108, B::Ok, I::Warning, 32, false,
            "Time out occurred, while trying to reach the server for verification.   \n"
            "Please press F1 now for more information and help!   "},
    BoxText{109, B::Ok, I::Information, 33, false,
            "IP address set successfully, until the server is restarted.   \n"
            "\n"
            "You can now set it permanently using a web browser.   \n"
            "Next dialog will launch it with this server's home page for you.   \n"
            "Press F1 for more help."},
    BoxText{110, B::Ok, I::Information, 31, false, "IP address set permanently and successfully!   "},
    BoxText{111, B::YesNo, I::Question, 19, false,
            "Would you like this program to launch a Web browser and   \n"
            "display the internal home page of this newly installed server?   "},
    BoxText{119, B::Ok, I::Information, 33, false,
            "IP address set successfully, until the server is restarted.   \n"
            "\n"
            "You can now set it permanently using a web browser."},
    BoxText{120, B::Ok, I::Warning, kHelpUnchanged, false, "Please wait until a server shows up and then retry...   "},
    BoxText{122, B::Ok, I::Warning, 27, false,
            "The broadcast IP address 255.255.255.255 is invalid.   \n"
            "Please enter another IP address and retry."},
    BoxText{123, B::OkCancel, I::Question, 36, true,
            "IP addresses ending with 0, 1 or 255 are often   \n"
            "reserved for the subnetwork, routers etc.   \n"
            "\n"
            "Click Cancel to enter another ending of the desired IP address.   \n"
            "Click OK to continue setting the IP address.   "},
    BoxText{124, B::Ok, I::Information, 37, false,
            "The server is already configured with this IP address.   \n"
            "\n"
            "If you are not satisfied with it, please   \n"
            "enter another IP address and retry.   "},
    BoxText{137, B::YesNo, I::Question, 19, false,
            "Do you want to add one of this print server's printers to 'My Printers' now?\n"
            "\n"
            "Clicking yes will take you to the 'Add Printer Wizard',\n"
            "clicking no will give you the possibility to set more IP addresses."},
};

}  // namespace

const BoxText* FindBox(int id)
{
    for (const auto& box : kBoxes)
        if (box.id == id) return &box;
    return nullptr;
}

const char* StageText(int id)
{
    switch (id) {
    case kTextWaiting:
        return "                    Waiting...\n"
               "\n"
               " (Waiting for the server to send\n"
               "  an IP address request packet.)";
    case kTextSetting:
        return "                    Setting...\n"
               "\n"
               " (Packet received and this program\n"
               "  replied with desired IP address.\n"
               "  Now waiting for server to restart.)";
    case kTextVerifying:
        return "                    Verifying...\n"
               "\n"
               " (Verifying that the IP address\n"
               "  has been set correctly.)";
    case kTextSaving:
        return "                    Saving...\n"
               "\n"
               " (IP address set successfully!\n"
               "  Now storing it permanently.)";
    case kTextRetrying:
        return "                    Retrying...\n"
               "\n"
               " (Retrying using another algorithm\n"
               "  and also another protocol.)";
    default:
        return "";
    }
}

const char* const kValidatingText =
    "                 Validating...\n"
    "\n"
    " (Checking that the IP address\n"
    "  is available and not used by\n"
    "  any host on the network.)";
const char* const kSettingTitle = "SETTING IP ADDRESS";
const char* const kSettingInitialText = "            Setting IP-address...";

}  // namespace tessel
