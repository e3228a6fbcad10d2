// The one text table: every numbered text that a window, a message box, the
// server list or the logfile shows, looked up by its fixed number, and the
// buttons and icon of every numbered message box. Free of any toolkit, so
// the engine, the Set-IP command, the window and tessel-cli read the same
// bytes. Help topics are not here: the code that shows a box chooses them.
#pragma once

#include <string>

namespace tessel {

enum TextId : int {
    IDS_ABOUTBOX = 101,
    IDS_PROGRAM_TITLE = 102,
    IDS_SOCKETS_FAILED = 103,
    IDS_NO_SERVER_CHOSEN = 104,
    IDS_ZERO_ADDRESS = 105,
    IDS_ADDRESS_IN_USE = 106,
    IDS_NO_REQUEST = 107,
    IDS_NOT_VERIFIED = 108,
    IDS_UNTIL_RESTART = 109,
    IDS_STORED = 110,
    IDS_OFFER_BROWSER = 111,
    IDS_BROWSER_FAILED = 112,
    IDS_COLUMN_SERIAL = 113,
    IDS_COLUMN_ADDRESS = 114,
    IDS_NOTE_SCANNING = 115,
    IDS_NOTE_PLEASE_WAIT = 116,
    IDS_HOME_NO_SERVER = 117,
    IDS_HOME_NO_ADDRESS = 118,
    IDS_UNTIL_RESTART_INKWELL = 119,
    IDS_WAIT_FOR_SERVER = 120,
    IDS_RESTART_HINT = 121,
    IDS_BROADCAST_ADDRESS = 122,
    IDS_RESERVED_ENDING = 123,
    IDS_SAME_ADDRESS = 124,
    IDS_PORT_IN_USE = 125,
    IDS_STAGE_WAITING = 126,
    IDS_STAGE_SETTING = 127,
    IDS_STAGE_VERIFYING = 128,
    IDS_STAGE_SAVING = 129,
    IDS_TEXT_RESTART_HINT = 131,
    IDS_TEXT_LISTENING = 132,
    IDS_TEXT_STEP1 = 133,
    IDS_TEXT_STEP2 = 134,
    IDS_NO_SERVER_SELECTED = 135,
    IDS_SELECTED_SERVER = 136,
    IDS_REGISTER_SERVER = 137,
    IDS_NOTE_RUNNING = 138,
    IDS_NOTE_DHCP_SERVERS = 139,
    IDS_NOTE_PREVENTS = 140,
    IDS_NOTE_ADDRESSES = 141,
    IDS_NO_TCPIP = 142,
    IDS_STAGE_RETRYING = 143,
    // Our own box: the address could not be checked with ICMP (no
    // permission here); the user decides whether to go on unchecked.
    IDS_NOT_CHECKED = 144,
    // Our own box: an address no server can be reached at (this network,
    // loopback, multicast or reserved).
    IDS_UNREACHABLE_ADDRESS = 145,
    // Our own box: the network address or the broadcast address of the
    // network where servers are heard; no server can have either.
    IDS_NETWORK_EDGE_ADDRESS = 146,
    IDS_IPADDR_INVALID = 32772,  // "%1" is the offending value
    IDS_IPADDR_MISSING = 32773,
    IDS_IPADDR_CAPTION = 32774,
};

// The text with that number (UTF-8, exactly as shown: single line feeds in
// boxes, CR LF in the window's read-only fields, trailing blanks kept); ""
// for a number the table does not hold, as a failed resource lookup gives.
const char* TextOf(int id);
// The text with that number, every "%1" in it replaced by `arg` (and none
// that `arg` brings in).
std::string FormatText(int id, const std::string& arg);

// Buttons, icon and answers of a message box. A box that names no icon is
// shown with the exclamation mark.
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Exclamation, Information, Question, Stop };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct BoxStyle {
    int id;  // the number of the box's text
    MsgButtons buttons;
    MsgIcon icon;
    int defaultButton;  // 0, 1 or 2: first, second or third button
};

// The style of the numbered box; nullptr for a number that is not a box.
const BoxStyle* FindBoxStyle(int id);

// The answer a box gives when its default button is pressed.
MsgAnswer DefaultAnswer(MsgButtons buttons, int defaultButton);

}  // namespace tessel
