#include "resources/texts.h"

#include <algorithm>
#include <array>

namespace tessel {

namespace {

struct Entry {
    int id;
    const char* text;
};

// Sorted by number. "\n" is a single line feed (boxes, progress windows),
// "\r\n" a CR LF (the main window's read-only fields); the blanks before a
// line end belong to the text.
constexpr std::array kTexts{
    Entry{IDS_ABOUTBOX, "&About MERROW Tessel..."},
    Entry{IDS_PROGRAM_TITLE, "MERROW Tessel"},
    Entry{IDS_SOCKETS_FAILED, "Windows sockets initialization failed."},
    Entry{IDS_NO_SERVER_CHOSEN,
          "No server is chosen!\n"
          "\n"
          "Please select the MERROW-server for which   \n"
          "you want to set the IP address and retry.   "},
    Entry{IDS_ZERO_ADDRESS,
          "The zero IP address 0.0.0.0 is invalid.   \n"
          "Please enter another IP address and retry.   "},
    Entry{IDS_ADDRESS_IN_USE,
          "The IP address you entered is already being used   \n"
          "by another device connected to your network.   \n"
          "\n"
          "Please enter another IP address and retry.   \n"
          "Press F1 for more help."},
    Entry{IDS_NO_REQUEST,
          "Time out occurred, while waiting for server request.   \n"
          "\n"
          "The server was restarted too long ago, so   \n"
          "please restart your MERROW-server and then retry.   \n"
          "Press F1 for more help."},
    Entry{IDS_NOT_VERIFIED,
          "Time out occurred, while trying to reach the server for verification.   \n"
          "Please press F1 now for more information and help!   "},
    Entry{IDS_UNTIL_RESTART,
          "IP address set successfully, until the server is restarted.   \n"
          "\n"
          "You can now set it permanently using a web browser.   \n"
          "Next dialog will launch it with this server's home page for you.   \n"
          "Press F1 for more help."},
    Entry{IDS_STORED, "IP address set permanently and successfully!   "},
    Entry{IDS_OFFER_BROWSER,
          "Would you like this program to launch a Web browser and   \n"
          "display the internal home page of this newly installed server?   "},
    Entry{IDS_BROWSER_FAILED,
          "Web browser could not be launched.   \n"
          "Please retry after starting up your favorite browser.   "},
    Entry{IDS_COLUMN_SERIAL, "Serial Number"},
    Entry{IDS_COLUMN_ADDRESS, "Current IP Address"},
    Entry{IDS_NOTE_SCANNING, "    Scanning network..."},
    Entry{IDS_NOTE_PLEASE_WAIT, "    Please wait..."},
    Entry{IDS_HOME_NO_SERVER,
          "No server is chosen!\n"
          "\n"
          "Please select an MERROW-server from the list   \n"
          "before launching the Web browser.   "},
    Entry{IDS_HOME_NO_ADDRESS,
          "You must install the server before you can access it via a Web browser.   \n"
          "Please do so by setting an IP address using step two in this program!   \n"
          "\n"
          "Press F1 for more help."},
    Entry{IDS_UNTIL_RESTART_INKWELL,
          "IP address set successfully, until the server is restarted.   \n"
          "\n"
          "You can now set it permanently using a web browser."},
    Entry{IDS_WAIT_FOR_SERVER, "Please wait until a server shows up and then retry...   "},
    Entry{IDS_RESTART_HINT,
          "Please restart your MERROW-server if it does not appear in the list!   \n"
          "Could also depend on that you have a running DHCP server in your network.   \n"
          "\n"
          "(Restart for example by turning the server's power off and then on again.)   \n"
          "Press F1 for more help."},
    Entry{IDS_BROADCAST_ADDRESS,
          "The broadcast IP address 255.255.255.255 is invalid.   \n"
          "Please enter another IP address and retry."},
    Entry{IDS_RESERVED_ENDING,
          "IP addresses ending with 0, 1 or 255 are often   \n"
          "reserved for the subnetwork, routers etc.   \n"
          "\n"
          "Click Cancel to enter another ending of the desired IP address.   \n"
          "Click OK to continue setting the IP address.   "},
    Entry{IDS_SAME_ADDRESS,
          "The server is already configured with this IP address.   \n"
          "\n"
          "If you are not satisfied with it, please   \n"
          "enter another IP address and retry.   "},
    Entry{IDS_PORT_IN_USE,
          "Network startup failed!   \n"
          "\n"
          "Another program (or service) already uses the BOOTP/DHCP port.   \n"
          "Please close the other running network applications (services)   \n"
          "and then restart this program. Press F1 for more help.   \n"
          "\n"
          "This program will shut down after pressing OK...   "},
    Entry{IDS_STAGE_WAITING,
          "                    Waiting...\n"
          "\n"
          " (Waiting for the server to send\n"
          "  an IP address request packet.)"},
    Entry{IDS_STAGE_SETTING,
          "                    Setting...\n"
          "\n"
          " (Packet received and this program\n"
          "  replied with desired IP address.\n"
          "  Now waiting for server to restart.)"},
    Entry{IDS_STAGE_VERIFYING,
          "                    Verifying...\n"
          "\n"
          " (Verifying that the IP address\n"
          "  has been set correctly.)"},
    Entry{IDS_STAGE_SAVING,
          "                    Saving...\n"
          "\n"
          " (IP address set successfully!\n"
          "  Now storing it permanently.)"},
    Entry{IDS_TEXT_RESTART_HINT, "Make sure\r\nyour server\r\nwas restarted\r\nless than 20\r\nminutes ago!"},
    Entry{IDS_TEXT_LISTENING, "Continuously\r\nlistening for\r\nnew servers..."},
    Entry{IDS_TEXT_STEP1, "Please restart your MERROW-server and then\r\nselect it by clicking on its serial number."},
    Entry{IDS_TEXT_STEP2, "Please enter the desired IP address\r\nand then click the button to set it!"},
    Entry{IDS_NO_SERVER_SELECTED, "No server selected above yet..."},
    Entry{IDS_SELECTED_SERVER, "Selected server: "},
    Entry{IDS_REGISTER_SERVER,
          "Do you want to add one of this print server's printers to 'My Printers' now?\n"
          "\n"
          "Clicking yes will take you to the 'Add Printer Wizard',\n"
          "clicking no will give you the possibility to set more IP addresses."},
    Entry{IDS_NOTE_RUNNING, "** Note that running"},
    Entry{IDS_NOTE_DHCP_SERVERS, "    DHCP servers   **"},
    Entry{IDS_NOTE_PREVENTS, "** prevents setting"},
    Entry{IDS_NOTE_ADDRESSES, "    of IP addresses **"},
    Entry{IDS_NO_TCPIP,
          "The TCP/IP network environment of this machine is not installed (or not correct configured).\n"
          "This program will shut down after pressing OK...   "},
    Entry{IDS_STAGE_RETRYING,
          "                    Retrying...\n"
          "\n"
          " (Retrying using another algorithm\n"
          "  and also another protocol.)"},
    Entry{IDS_NOT_CHECKED,
          "The IP address could not be checked, because this program   \n"
          "could not send an ICMP echo request (ping) to it.   \n"
          "\n"
          "If another device already uses this address, both will fail.   \n"
          "Do you want to set the IP address without this check?   \n"
          "Press F1 for more help."},
    Entry{IDS_UNREACHABLE_ADDRESS,
          "No server can be reached at this IP address:   \n"
          "addresses starting with 0 (this network), 127 (loopback),   \n"
          "224 to 239 (multicast) or 240 to 255 (reserved) are invalid.   \n"
          "\n"
          "Please enter another IP address and retry.   "},
    Entry{IDS_NETWORK_EDGE_ADDRESS,
          "This IP address is the network address or the broadcast address   \n"
          "of the network where the server is heard: it names the whole   \n"
          "network, so no server can be reached at it.   \n"
          "\n"
          "Please enter another IP address and retry.   "},
    Entry{IDS_IPADDR_INVALID,
          "Sorry, but %1 is an invalid IP address entry!   \n"
          "Please specify a value between 0 and 255 for this field.   "},
    Entry{IDS_IPADDR_MISSING,
          "There is a missing IP address entry!   \n"
          "Please specify a value between 0 and 255 for this field.   "},
    Entry{IDS_IPADDR_CAPTION, "Bad user input"},
};

constexpr bool ById(const auto& a, const auto& b)
{
    return a.id < b.id;
}
static_assert(std::is_sorted(kTexts.begin(), kTexts.end(), [](const Entry& a, const Entry& b) { return ById(a, b); }),
              "the text table must stay sorted by number");

using B = MsgButtons;
using I = MsgIcon;

// Every numbered box, sorted by number. A plain "OK, warning" box names the
// exclamation mark; the boxes whose text reports a failure that ends
// something carry the stop sign.
constexpr std::array kBoxes{
    BoxStyle{IDS_SOCKETS_FAILED, B::Ok, I::None, 0},
    BoxStyle{IDS_NO_SERVER_CHOSEN, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_ZERO_ADDRESS, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_ADDRESS_IN_USE, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_NO_REQUEST, B::Ok, I::Stop, 0},
    BoxStyle{IDS_NOT_VERIFIED, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_UNTIL_RESTART, B::Ok, I::Information, 0},
    BoxStyle{IDS_STORED, B::Ok, I::Information, 0},
    BoxStyle{IDS_OFFER_BROWSER, B::YesNo, I::Question, 0},
    BoxStyle{IDS_BROWSER_FAILED, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_HOME_NO_SERVER, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_HOME_NO_ADDRESS, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_UNTIL_RESTART_INKWELL, B::Ok, I::Information, 0},
    BoxStyle{IDS_WAIT_FOR_SERVER, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_RESTART_HINT, B::Ok, I::Information, 0},
    BoxStyle{IDS_BROADCAST_ADDRESS, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_RESERVED_ENDING, B::OkCancel, I::Question, 1},
    BoxStyle{IDS_SAME_ADDRESS, B::Ok, I::Information, 0},
    BoxStyle{IDS_PORT_IN_USE, B::Ok, I::Stop, 0},
    BoxStyle{IDS_REGISTER_SERVER, B::YesNo, I::Question, 0},
    BoxStyle{IDS_NO_TCPIP, B::Ok, I::Stop, 0},
    BoxStyle{IDS_NOT_CHECKED, B::YesNo, I::Question, 1},
    BoxStyle{IDS_UNREACHABLE_ADDRESS, B::Ok, I::Exclamation, 0},
    BoxStyle{IDS_NETWORK_EDGE_ADDRESS, B::Ok, I::Exclamation, 0},
};
static_assert(std::is_sorted(kBoxes.begin(), kBoxes.end(),
                             [](const BoxStyle& a, const BoxStyle& b) { return ById(a, b); }),
              "the box table must stay sorted by number");

template <typename Table>
auto Find(const Table& table, int id) -> decltype(&table[0])
{
    const auto it =
        std::lower_bound(table.begin(), table.end(), id, [](const auto& e, int wanted) { return e.id < wanted; });
    return it == table.end() || it->id != id ? nullptr : &*it;
}

}  // namespace

const char* TextOf(int id)
{
    const Entry* entry = Find(kTexts, id);
    return entry ? entry->text : "";
}

std::string FormatText(int id, const std::string& arg)
{
    const std::string text = TextOf(id);
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find("%1", from)) != std::string::npos; from = at + 2)
        out.append(text, from, at - from).append(arg);
    return out.append(text, from, std::string::npos);
}

const BoxStyle* FindBoxStyle(int id)
{
    return Find(kBoxes, id);
}

MsgAnswer DefaultAnswer(MsgButtons buttons, int defaultButton)
{
    // A default beyond the last button falls back to the first, as the
    // system's boxes do.
    switch (buttons) {
    case MsgButtons::Ok:
        return MsgAnswer::Ok;
    case MsgButtons::OkCancel:
        return defaultButton == 1 ? MsgAnswer::Cancel : MsgAnswer::Ok;
    case MsgButtons::YesNo:
        return defaultButton == 1 ? MsgAnswer::No : MsgAnswer::Yes;
    case MsgButtons::YesNoCancel:
        return defaultButton == 1 ? MsgAnswer::No : defaultButton == 2 ? MsgAnswer::Cancel : MsgAnswer::Yes;
    }
    return MsgAnswer::Ok;
}

}  // namespace tessel
