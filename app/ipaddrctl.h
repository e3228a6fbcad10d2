// The IP address entry control in Qt: four centred fields of up to three
// digits with a dot painted between neighbours, in one sunken frame. What
// each key does, reading and filling are the control's rules
// (controls/ipaddr_rules.h); this is the view that draws them. Its parent
// reads, fills and locks it through three operations; the control never
// tells its parent anything by itself.
#pragma once

#include <QFrame>
#include <QLineEdit>
#include <QRect>

#include <array>
#include <cstdint>
#include <string>

#include "controls/ipaddr_rules.h"

namespace tessel {

class CIPAddrCtl;

// One digit field. It takes the keys that move between fields, leave the
// control or must be refused, and leaves the rest to the line edit.
class CIPAddrEdit final : public QLineEdit {
    Q_OBJECT
public:
    CIPAddrEdit(CIPAddrCtl* owner, int id);

    CIPAddrCtl* const m_pOwner;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void OnChar(int character, QKeyEvent* event);
    void OnKeyDown(QKeyEvent* event);
    // Whether a paste may go ahead; a refused one beeps.
    bool PasteAllowed();

    // The selection a field had when it lost the focus, given back when the
    // focus returns from a neighbouring field: the line edit would drop it.
    int m_nSavedSelStart = -1;
    int m_nSavedSelLength = 0;
    bool m_bSavedCaretAtStart = false;
};

class CIPAddrCtl final : public QFrame, private IPAddrView {
    Q_OBJECT
public:
    explicit CIPAddrCtl(QWidget* parent = nullptr, std::uint32_t style = 0);

    // Reads and validates the fields. Returns 1 and the octets when all four
    // hold 0 to 255; otherwise 0, the first bad field in `badField`, the
    // focus on that field with its text selected, and with `report` a box.
    // A null `address` is refused with 0 and nothing else.
    int GetAddress(bool report, IPAddrData* address);
    // Shows the four bytes, field 1 first. Null is refused with 0.
    int SetAddress(const std::uint8_t* bytes);
    int SetReadOnly(bool readOnly);

    CIPAddrEdit* GetField(int n) const;  // n = 1 to 4, else null

    IpAddrRules& Rules() { return m_rules; }

    bool IsReadOnly() const { return m_bReadOnly; }
    bool IsNoValidate() const { return m_rules.NoValidate(); }
    QRect FieldRect(int index) const { return m_rcFields.at(static_cast<std::size_t>(index)); }
    QRect DotRect(int index) const { return m_rcDots.at(static_cast<std::size_t>(index)); }

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // IPAddrView: what the rules ask of the control.
    std::string FieldText(int n) const override;
    void SetFieldText(int n, const std::string& text) override;
    void FocusField(int n, bool selectAll) override;
    void LeaveControl(bool backwards) override;
    void ReportBadValue(int textId, const std::string& value) override;
    void Beep() override;
    bool Editable() const override { return !m_bReadOnly; }

    void LayOut();

    std::array<CIPAddrEdit*, 4> m_fields{};  // children, IDs 1 to 4
    std::array<QRect, 4> m_rcFields{};
    std::array<QRect, 3> m_rcDots{};
    bool m_bEnabled = true;
    bool m_bReadOnly = false;
    IpAddrRules m_rules;
};

}  // namespace tessel
