// Message boxes and help of the Win32 window. Every box goes through
// ShowWin32Box: MessageBoxIndirect with the buttons the text table names
// and the help context in force when it is shown, so that F1 in a box
// opens that topic.
// Help is the program's HTML topics, installed beside it and opened in the
// default browser (docs/windows.md says why).
#pragma once

#include <windows.h>

#include <string>

#include "resources/help_topics.h"
#include "resources/texts.h"

namespace tessel {

struct Win32Box {
    HWND owner = nullptr;
    std::string caption;  // empty: the program's caption
    std::string text;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
    int defaultButton = 0;
    int helpContext = -1;  // the topic F1 opens; -1: the context in force
};

// The help context counter of the main window; boxes record its value.
void SetWin32HelpContextSource(const HelpContext* source);
int CurrentWin32HelpContext();

MsgAnswer ShowWin32Box(const Win32Box& box);
// A box of the text table by number, with its own buttons and icon.
MsgAnswer ShowWin32TextBox(HWND owner, int textId, int helpContext = -1);

// True while a box is up: F1 then belongs to the box.
bool Win32BoxShowing();

// The path of a help topic beside the program: help\topicN.html, or the
// contents page for a number without a topic.
std::wstring HelpTopicPath(int helpContext);
// Opens the topic in the default browser; when no program opens it, box
// 112 says so (without a topic of its own: there is nothing to open it).
void ShowWin32Help(int helpContext);

// The MB_ flags of a box's buttons, icon and default button.
UINT MessageBoxFlags(MsgButtons buttons, MsgIcon icon, int defaultButton);

}  // namespace tessel
