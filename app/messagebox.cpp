#include "app/messagebox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include <array>
#include <vector>

#include "app/stringtable.h"

namespace tessel {
namespace {

QtMessageBoxService g_qtService;
MessageBoxService* g_service = &g_qtService;
const HelpContext* g_helpContext = nullptr;
std::function<void(int)> g_helpHandler;

std::vector<MsgAnswer> ButtonsOf(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::Ok:
        return {MsgAnswer::Ok};
    case MsgButtons::OkCancel:
        return {MsgAnswer::Ok, MsgAnswer::Cancel};
    case MsgButtons::YesNo:
        return {MsgAnswer::Yes, MsgAnswer::No};
    case MsgButtons::YesNoCancel:
        return {MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Cancel};
    }
    return {MsgAnswer::Ok};
}

QMessageBox::StandardButton StandardButtonOf(MsgAnswer answer)
{
    switch (answer) {
    case MsgAnswer::Ok:
        return QMessageBox::Ok;
    case MsgAnswer::Cancel:
        return QMessageBox::Cancel;
    case MsgAnswer::Yes:
        return QMessageBox::Yes;
    case MsgAnswer::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon QtIconOf(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::None:
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Stop:
        return QMessageBox::Critical;
    }
    return QMessageBox::Warning;
}

// Gives the box the keys of the system's own boxes: F1 asks for help, and
// a Yes/No box cannot be dismissed by Escape or by closing its window,
// because it has no answer that means "neither".
class BoxKeys final : public QObject {
public:
    BoxKeys(QObject* parent, bool mustAnswer) : QObject(parent), m_bMustAnswer(mustAnswer) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
                InvokeHelp();
                return true;
            }
            if (key->key() == Qt::Key_Escape && m_bMustAnswer) return true;
        }
        if (event->type() == QEvent::Close && m_bMustAnswer) {
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_bMustAnswer;
};

}  // namespace

MsgAnswer DefaultAnswer(const MessageBoxRequest& request)
{
    return DefaultAnswer(request.buttons, request.defaultButton);
}

MsgAnswer QtMessageBoxService::show(const MessageBoxRequest& request)
{
    QMessageBox box(request.owner.data());
    box.setWindowTitle(request.caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(request.text);
    box.setIcon(QtIconOf(request.icon));

    QAbstractButton* defaultButton = nullptr;
    const std::vector<MsgAnswer> answers = ButtonsOf(request.buttons);
    const MsgAnswer wantedDefault = DefaultAnswer(request);
    for (MsgAnswer answer : answers) {
        QPushButton* button = box.addButton(StandardButtonOf(answer));
        if (answer == wantedDefault) defaultButton = button;
    }
    box.setDefaultButton(static_cast<QPushButton*>(defaultButton));
    if (request.buttons == MsgButtons::Ok) box.setEscapeButton(box.button(QMessageBox::Ok));

    const bool mustAnswer = request.buttons == MsgButtons::YesNo;
    box.installEventFilter(new BoxKeys(&box, mustAnswer));

    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (MsgAnswer answer : answers) {
        if (clicked && clicked == box.button(StandardButtonOf(answer))) return answer;
    }
    // Closed some other way: what Escape would have answered.
    return request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
}

void QtMessageBoxService::beep()
{
    QApplication::beep();
}

MessageBoxService* SetMessageBoxService(MessageBoxService* service)
{
    MessageBoxService* previous = g_service;
    g_service = service ? service : &g_qtService;
    return previous;
}

MessageBoxService& MessageBoxes()
{
    return *g_service;
}

void SetHelpContextSource(const HelpContext* source)
{
    g_helpContext = source;
}

int CurrentHelpContext()
{
    return g_helpContext ? g_helpContext->Current() : 0;
}

void SetHelpHandler(std::function<void(int)> handler)
{
    g_helpHandler = std::move(handler);
}

void InvokeHelp()
{
    if (g_helpHandler) g_helpHandler(CurrentHelpContext());
}

QString ProgramCaption()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

MsgAnswer ShowMessageBox(MessageBoxRequest request)
{
    if (request.caption.isEmpty()) request.caption = ProgramCaption();
    if (request.icon == MsgIcon::None) request.icon = MsgIcon::Exclamation;
    request.helpContext = CurrentHelpContext();
    return g_service->show(request);
}

MsgAnswer ShowMessageBox(QWidget* owner, int textId, MsgButtons buttons, MsgIcon icon, int defaultButton)
{
    MessageBoxRequest request;
    request.owner = owner;
    request.text = LoadString(textId);
    request.textId = textId;
    request.buttons = buttons;
    request.icon = icon;
    request.defaultButton = defaultButton;
    return ShowMessageBox(std::move(request));
}

void MessageBeep()
{
    g_service->beep();
}

}  // namespace tessel
