// The one way every window shows a message box or beeps. Windows build a
// request and call ShowMessageBox(); the installed service shows it. The
// program installs the QMessageBox service; tests install a scripted one
// that records each box and gives queued answers.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

#include "resources/help_topics.h"
#include "resources/texts.h"

namespace tessel {


struct MessageBoxRequest {
    QPointer<QWidget> owner;  // null: no owner window
    QString caption;          // empty: the program's caption
    QString text;
    int textId = 0;  // string-table number of the text, 0 for a literal
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
    int defaultButton = 0;  // 0, 1 or 2: first, second or third button
    int helpContext = 0;    // filled in by ShowMessageBox()
};

// The answer a box gives when its default button is pressed.
MsgAnswer DefaultAnswer(const MessageBoxRequest& request);

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // Shows the box modally and returns the button the user pressed.
    virtual MsgAnswer show(const MessageBoxRequest& request) = 0;
    // The simple system beep that answers a key the window refuses.
    virtual void beep() = 0;
};

// The real boxes: QMessageBox, with F1 handed to the help handler.
class QtMessageBoxService final : public MessageBoxService {
public:
    MsgAnswer show(const MessageBoxRequest& request) override;
    void beep() override;
};

// Installs `service` for the whole program and returns the one it replaces.
// Null restores the built-in QMessageBox service.
MessageBoxService* SetMessageBoxService(MessageBoxService* service);
MessageBoxService& MessageBoxes();

// The help context number that F1 opens: the main window registers its own
// counter here, and every box records the number current when it is shown.
void SetHelpContextSource(const HelpContext* source);
int CurrentHelpContext();  // 0 while no window has registered a counter

// What F1 in a box does: called with the current help context number.
void SetHelpHandler(std::function<void(int)> handler);
void InvokeHelp();

// The caption of every box that names none: the executable's file name
// without its extension.
QString ProgramCaption();

// Completes the request (caption, icon, help context) and shows it through
// the installed service.
MsgAnswer ShowMessageBox(MessageBoxRequest request);

// A box whose text comes from the string table by number.
MsgAnswer ShowMessageBox(QWidget* owner, int textId, MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None,
                         int defaultButton = 0);

void MessageBeep();

}  // namespace tessel
