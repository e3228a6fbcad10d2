// Dialog data exchange: moving values between a dialog's members and its
// controls in one pass, in either direction. Controls are found by their
// fixed numbers. A saving pass stops at the first value it refuses and
// leaves the focus, with the text selected, on the control at fault.
#pragma once

#include <QWidget>

#include "app/dialogitems.h"

namespace tessel {

class CDataExchange {
public:
    CDataExchange(QWidget* dialog, bool saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}

    QWidget* const m_pDlgWnd;
    const bool m_bSaveAndValidate;  // true: controls to members; false: members to controls

    // Names the control that the next exchange step works on, so that a
    // failure can put the focus back on it.
    void PrepareCtrl(QWidget* control);
    // The same, for a control whose text is selected when the step fails.
    void PrepareEditCtrl(QWidget* control);

    // Ends the pass as failed: focus to the last named control (its text
    // selected when it is a text field). Returns false for the caller to
    // pass on; every later step must be abandoned.
    bool Fail();
    bool Failed() const { return m_bFailed; }

private:
    QWidget* m_pLastCtrl = nullptr;
    bool m_bEditLastCtrl = false;
    bool m_bFailed = false;
};

}  // namespace tessel
