#include "tests/gui/scripted_messagebox.h"

namespace tessel::testing {

ScriptedMessageBoxes::ScriptedMessageBoxes() : m_previous(SetMessageBoxService(this))
{}

ScriptedMessageBoxes::~ScriptedMessageBoxes()
{
    SetMessageBoxService(m_previous);
}

void ScriptedMessageBoxes::clear()
{
    m_boxes.clear();
    m_answers.clear();
    m_beeps = 0;
}

MsgAnswer ScriptedMessageBoxes::show(const MessageBoxRequest& request)
{
    ShownBox box;
    box.caption = request.caption;
    box.text = request.text;
    box.textId = request.textId;
    box.buttons = request.buttons;
    box.icon = request.icon;
    box.defaultAnswer = DefaultAnswer(request);
    box.owner = request.owner;
    box.helpContext = request.helpContext;
    if (m_answers.empty()) {
        box.answer = box.defaultAnswer;
    } else {
        box.answer = m_answers.front();
        m_answers.pop_front();
    }
    if (m_onShow) m_onShow(box);
    m_boxes.push_back(box);
    return box.answer;
}

}  // namespace tessel::testing
