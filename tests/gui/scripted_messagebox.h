// The message-box service of the GUI tests: records every box and beep,
// answers each box with the next queued answer (or its default button when
// none is queued), and puts the program's own service back when it goes.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <vector>

#include "app/messagebox.h"

namespace tessel::testing {

struct ShownBox {
    QString caption;
    QString text;
    int textId = 0;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
    MsgAnswer defaultAnswer = MsgAnswer::Ok;
    QPointer<QWidget> owner;
    int helpContext = 0;
    MsgAnswer answer = MsgAnswer::Ok;  // what the box returned
};

class ScriptedMessageBoxes final : public MessageBoxService {
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    void queueAnswer(MsgAnswer answer) { m_answers.push_back(answer); }
    // Runs while the box is "up", before it answers: lets a test look at
    // the window as the user would see it behind the box.
    void onShow(std::function<void(const ShownBox&)> hook) { m_onShow = std::move(hook); }

    const std::vector<ShownBox>& boxes() const { return m_boxes; }
    int beeps() const { return m_beeps; }
    void clear();

    MsgAnswer show(const MessageBoxRequest& request) override;
    void beep() override { ++m_beeps; }

private:
    MessageBoxService* m_previous;
    std::deque<MsgAnswer> m_answers;
    std::function<void(const ShownBox&)> m_onShow;
    std::vector<ShownBox> m_boxes;
    int m_beeps = 0;
};

}  // namespace tessel::testing
