#include "app/ipaddrctl.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QValidator>

#include <algorithm>

#include "app/messagebox.h"
#include "app/dialogitems.h"
#include "app/stringtable.h"

namespace tessel {
namespace {

constexpr int kFieldCount = kIPAddrFields;
// The gap above the fields: the height of one 3-D edge.
constexpr int kEdgeHeight = 2;
constexpr int kNoCharacter = -1;

// What a key press types, in character codes: Tab 9, Enter 13, Backspace 8,
// Escape 27, Ctrl+letter 1 to 26; kNoCharacter for keys that type nothing
// (arrows, Delete, function keys, Alt combinations, which belong to the
// window's mnemonics).
int CharacterOf(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Delete:
        return kNoCharacter;
    default:
        break;
    }
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool ctrl = mods.testFlag(Qt::ControlModifier);
    const bool alt = mods.testFlag(Qt::AltModifier);
    if (ctrl && !alt) {
        const int key = event->key();
        if (key >= Qt::Key_A && key <= Qt::Key_Z) return key - Qt::Key_A + 1;
        if (key >= Qt::Key_BracketLeft && key <= Qt::Key_BracketRight) return key - Qt::Key_At;
        return kNoCharacter;
    }
    if (alt && !ctrl) return kNoCharacter;
    const QString text = event->text();
    if (text.isEmpty()) return kNoCharacter;
    return text.at(0).unicode();
}

class DigitsValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return PasteAccepted(input.toStdString()) ? Acceptable : Invalid;
    }
};

}  // namespace

// ---------------------------------------------------------------- fields

CIPAddrEdit::CIPAddrEdit(CIPAddrCtl* owner, int id) : QLineEdit(owner), m_pOwner(owner)
{
    SetDlgCtrlID(this, id);
    setFrame(false);
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    setMaxLength(kIPAddrFieldChars);
    // One tab stop for the whole control: the fields are reached by the
    // control's own keys and by the mouse.
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setAcceptDrops(false);
    // The context menu's Paste meets the same rule as the paste keys: text
    // that typing could not give is not taken (the keys beep as well).
    setValidator(new DigitsValidator(this));
    // The control paints the background for all four fields, in the colour
    // of its state.
    QPalette pal = palette();
    pal.setBrush(QPalette::All, QPalette::Base, Qt::transparent);
    setPalette(pal);
    // The platform's edit field keeps a little space at its sides; the
    // line edit's own margins are wider and would scroll three wide digits.
    setTextMargins(-1, 0, -1, 0);
    connect(this, &QLineEdit::textChanged, this, [this] {
        // Text set from outside starts with a fresh selection.
        if (!hasFocus()) m_nSavedSelStart = -1;
    });
}

bool CIPAddrEdit::event(QEvent* event)
{
    // Tab would otherwise walk the focus chain, which holds the other fields.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CIPAddrEdit::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (mods.testFlag(Qt::AltModifier) && !mods.testFlag(Qt::ControlModifier) && !event->text().isEmpty()) {
        // Alt with a character is the window's (a mnemonic), never text for
        // the field; the line edit would type it. Alt+Ctrl is AltGr on some
        // keyboards and not a mnemonic, so it goes through the rules below.
        event->ignore();
        return;
    }
    const int character = CharacterOf(event);
    if (character == kNoCharacter) {
        OnKeyDown(event);
        return;
    }
    OnChar(character, event);
}

void CIPAddrEdit::OnChar(int character, QKeyEvent* event)
{
    const int n = GetDlgCtrlID(this);
    // Shift+Tab arrives as Backtab, with or without the Shift flag.
    const bool shift = event->key() == Qt::Key_Backtab || event->modifiers().testFlag(Qt::ShiftModifier);
    if (ActionOfChar(character) == FieldCharAction::ToWindow) {
        // Escape belongs to the window that holds the control (a dialog
        // closes on it), not to the field.
        event->ignore();
        return;
    }
    event->accept();
    if (!m_pOwner->Rules().OnChar(n, character, shift)) return;
    if (character == kCharPaste && !PasteAllowed()) return;
    QLineEdit::keyPressEvent(event);
    event->accept();
    m_pOwner->Rules().AfterEdit(n);
}

bool CIPAddrEdit::PasteAllowed()
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    return m_pOwner->Rules().OnPaste(clipboard ? clipboard->text().toStdString() : std::string());
}

void CIPAddrEdit::OnKeyDown(QKeyEvent* event)
{
    // Shift+Insert pastes as Ctrl+V does, and meets the same check.
    if (event->matches(QKeySequence::Paste) && !PasteAllowed()) {
        event->accept();
        return;
    }
    const bool arrow = event->key() == Qt::Key_Left || event->key() == Qt::Key_Right;
    const int caret = cursorPosition();
    // The key is the field's own as well, whether or not the focus moves.
    // It is handled before the move so that what it does to this field's
    // selection is what the field keeps while it has no focus.
    QLineEdit::keyPressEvent(event);
    if (!arrow) return;
    event->accept();  // arrows are the field's even at its ends
    m_pOwner->Rules().OnArrow(GetDlgCtrlID(this), event->key() == Qt::Key_Right, caret);
}

// Text from an input method or a drop would bypass the character rules of
// the keys: both are switched off for the fields, and what still arrives is
// dropped. Pasting stays, as the platform's edit field allows it, but only
// for digits or a whole address (the paste keys and the menu's Paste ask the
// rules).
void CIPAddrEdit::inputMethodEvent(QInputMethodEvent* event)
{
    event->ignore();
}

void CIPAddrEdit::dragEnterEvent(QDragEnterEvent* event)
{
    event->ignore();
}

void CIPAddrEdit::dropEvent(QDropEvent* event)
{
    event->ignore();
}

// The menu's Paste fills the four fields with a whole address, as the paste
// keys do; other text meets the digits validator as before.
void CIPAddrEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    // Newer Qt names the menu's actions; the one here is known by its text.
    const auto isPaste = [](const QAction* action) {
        return action->objectName() == QLatin1String("edit-paste") ||
               action->text().startsWith(QCoreApplication::translate("QLineEdit", "&Paste"));
    };
    const QList<QAction*> actions = menu->actions();
    if (const auto found = std::find_if(actions.begin(), actions.end(), isPaste); found != actions.end()) {
        QAction* paste = *found;
        paste->setObjectName(QStringLiteral("edit-paste"));
        disconnect(paste, &QAction::triggered, nullptr, nullptr);
        connect(paste, &QAction::triggered, this, [this] {
            const QClipboard* clipboard = QGuiApplication::clipboard();
            const std::string text = clipboard ? clipboard->text().toStdString() : std::string();
            if (PastedAddress(text))
                m_pOwner->Rules().OnPaste(text);
            else
                QLineEdit::paste();
        });
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CIPAddrEdit::focusOutEvent(QFocusEvent* event)
{
    m_pOwner->Rules().OnFieldLeft(GetDlgCtrlID(this));
    if (hasSelectedText()) {
        m_nSavedSelStart = selectionStart();
        m_nSavedSelLength = static_cast<int>(selectedText().size());
        m_bSavedCaretAtStart = cursorPosition() == m_nSavedSelStart;
    } else {
        m_nSavedSelStart = -1;
    }
    QLineEdit::focusOutEvent(event);
}

void CIPAddrEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (m_nSavedSelStart >= 0 && !hasSelectedText() && event->reason() == Qt::OtherFocusReason) {
        if (m_bSavedCaretAtStart)
            setSelection(m_nSavedSelStart + m_nSavedSelLength, -m_nSavedSelLength);
        else
            setSelection(m_nSavedSelStart, m_nSavedSelLength);
    }
    m_nSavedSelStart = -1;
}

// ---------------------------------------------------------------- control

CIPAddrCtl::CIPAddrCtl(QWidget* parent, std::uint32_t style) : QFrame(parent), m_rules(*this, style)
{
    // A widget made inside a disabled window starts disabled and is not told.
    m_bEnabled = isEnabled();
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::IBeamCursor);
    for (int i = 0; i < kFieldCount; ++i) m_fields[static_cast<std::size_t>(i)] = new CIPAddrEdit(this, i + 1);
    LayOut();
}

int CIPAddrCtl::GetAddress(bool report, IPAddrData* address)
{
    return m_rules.GetAddress(report, address);
}

int CIPAddrCtl::SetAddress(const std::uint8_t* bytes)
{
    return m_rules.SetAddress(bytes);
}

std::string CIPAddrCtl::FieldText(int n) const
{
    const CIPAddrEdit* field = GetField(n);
    return field ? field->text().toStdString() : std::string();
}

void CIPAddrCtl::SetFieldText(int n, const std::string& text)
{
    CIPAddrEdit* field = GetField(n);
    if (!field) return;
    field->setText(QString::fromStdString(text));
    field->setCursorPosition(0);
}

void CIPAddrCtl::Beep()
{
    MessageBeep();
}

int CIPAddrCtl::SetReadOnly(bool readOnly)
{
    m_bReadOnly = readOnly;
    for (CIPAddrEdit* field : m_fields) {
        field->setReadOnly(readOnly);
        field->setAttribute(Qt::WA_InputMethodEnabled, false);  // the line edit turns it back on
    }
    update();
    return 1;
}

CIPAddrEdit* CIPAddrCtl::GetField(int n) const
{
    if (n < 1 || n > kFieldCount) return nullptr;
    return m_fields[static_cast<std::size_t>(n - 1)];
}

void CIPAddrCtl::ReportBadValue(int textId, const std::string& value)
{
    MessageBoxRequest request;
    request.owner = this;
    request.caption = LoadString(IDS_IPADDR_CAPTION);
    request.text = FormatString1(textId, QString::fromStdString(value));
    request.textId = textId;
    request.buttons = MsgButtons::Ok;
    request.icon = MsgIcon::Exclamation;
    ShowMessageBox(std::move(request));
}

void CIPAddrCtl::FocusField(int n, bool selectAll)
{
    CIPAddrEdit* field = GetField(n);
    if (!field) return;
    field->setFocus(Qt::OtherFocusReason);
    if (selectAll) field->selectAll();  // also brings the caret into view
}

void CIPAddrCtl::LeaveControl(bool backwards)
{
    // The next (or previous) tab stop of the window after the control,
    // skipping the control's own fields, wrapping round as tabbing does.
    QWidget* candidate = this;
    for (;;) {
        candidate = backwards ? candidate->previousInFocusChain() : candidate->nextInFocusChain();
        if (!candidate || candidate == this) break;
        if (isAncestorOf(candidate) || candidate->window() != window()) continue;
        if ((candidate->focusPolicy() & Qt::TabFocus) && candidate->isEnabled() && candidate->isVisibleTo(window()))
            break;
    }
    if (!candidate) return;
    candidate->setFocus(backwards ? Qt::BacktabFocusReason : Qt::TabFocusReason);
}

QSize CIPAddrCtl::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    const int fieldWidth = metrics.horizontalAdvance(QStringLiteral("000")) + 4;
    const int dotWidth = metrics.horizontalAdvance(QLatin1Char('.'));
    const int frame = 2 * frameWidth();
    return {kFieldCount * fieldWidth + 3 * dotWidth + frame, metrics.height() + kEdgeHeight + 2 + frame};
}

void CIPAddrCtl::LayOut()
{
    const int dotWidth = fontMetrics().horizontalAdvance(QLatin1Char('.'));
    const QRect client = contentsRect();
    const int height = client.height();
    const int fieldWidth = std::max(0, (client.width() - 3 * dotWidth) / kFieldCount);
    const int step = fieldWidth + dotWidth;
    for (int i = 0; i < kFieldCount; ++i) {
        const QRect field(i * step, kEdgeHeight, fieldWidth, std::max(0, height - kEdgeHeight));
        m_rcFields[static_cast<std::size_t>(i)] = field;
        m_fields[static_cast<std::size_t>(i)]->setGeometry(field.translated(client.topLeft()));
    }
    for (int j = 0; j < 3; ++j)
        m_rcDots[static_cast<std::size_t>(j)] = QRect(fieldWidth + j * step, 0, dotWidth, height);
}

void CIPAddrCtl::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    LayOut();
}

void CIPAddrCtl::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    const QRect client = contentsRect();
    // The system's window colour while the fields take input, the button
    // face while they do not.
    const QPalette::ColorRole background = (m_bEnabled && !m_bReadOnly) ? QPalette::Base : QPalette::Button;
    painter.fillRect(client, palette().brush(QPalette::Active, background));
    drawFrame(&painter);

    // Read-only keeps the dots in the text colour; only disabled greys them.
    painter.setPen(palette().color(m_bEnabled ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.setFont(font());
    for (const QRect& dot : m_rcDots)
        painter.drawText(dot.translated(client.topLeft()), Qt::AlignBottom | Qt::AlignHCenter | Qt::TextSingleLine,
                         QStringLiteral("."));
}

void CIPAddrCtl::focusInEvent(QFocusEvent* event)
{
    QFrame::focusInEvent(event);
    FocusField(1, true);
}

void CIPAddrCtl::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        const bool enabled = isEnabled();
        if (enabled != m_bEnabled) {
            m_bEnabled = enabled;
            for (CIPAddrEdit* field : m_fields) field->setEnabled(enabled);
        }
        update();
    } else if (event->type() == QEvent::FontChange) {
        LayOut();
        update();
    }
}

}  // namespace tessel
