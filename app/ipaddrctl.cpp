#include "app/ipaddrctl.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

#include "app/dataexchange.h"
#include "app/messagebox.h"
#include "app/stringtable.h"

namespace tessel {
namespace {

constexpr int kFieldCount = 4;
constexpr int kFieldChars = 3;
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
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Delete: return kNoCharacter;
    default: break;
    }
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool ctrl = mods.testFlag(Qt::ControlModifier);
    const bool alt = mods.testFlag(Qt::AltModifier);
    if (ctrl && !alt) {
        const int key = event->key();
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return key - Qt::Key_A + 1;
        if (key >= Qt::Key_BracketLeft && key <= Qt::Key_BracketRight)
            return key - Qt::Key_At;
        return kNoCharacter;
    }
    if (alt && !ctrl)
        return kNoCharacter;
    const QString text = event->text();
    if (text.isEmpty())
        return kNoCharacter;
    return text.at(0).unicode();
}

bool IsControlCharacter(int character)
{
    return character < 32 || character == 127;
}

// The field's text as a number: leading blanks skipped, an optional sign,
// the decimal digits up to the first other character, 0 when there are
// none. Three characters cannot overflow.
int ParseFieldText(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == u' ' || (text.at(i) >= u'\t' && text.at(i) <= u'\r')))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    int value = 0;
    while (i < n && text.at(i) >= u'0' && text.at(i) <= u'9' && value < 100000) {
        value = value * 10 + (text.at(i).unicode() - u'0');
        ++i;
    }
    return negative ? -value : value;
}

// A field's value for reading the address: -1 for an empty field.
int ReadField(const CIPAddrEdit* field)
{
    const QString text = field->text();
    return text.isEmpty() ? -1 : ParseFieldText(text);
}

bool InByteRange(int value)
{
    return value >= 0 && value <= 255;
}

}  // namespace

// ---------------------------------------------------------------- fields

CIPAddrEdit::CIPAddrEdit(CIPAddrCtl* owner, int id) : QLineEdit(owner), m_pOwner(owner)
{
    SetDlgCtrlID(this, id);
    setFrame(false);
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    setMaxLength(kFieldChars);
    // One tab stop for the whole control: the fields are reached by the
    // control's own keys and by the mouse.
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setAcceptDrops(false);
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
        if (!hasFocus())
            m_nSavedSelStart = -1;
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
    const int repeat = event->count();
    if (character == '\t') {
        // Shift+Tab arrives as Backtab, with or without the Shift flag.
        const int key = event->key() == Qt::Key_Backtab ? Qt::Key_Backtab : Qt::Key_Tab;
        m_pOwner->Navigate(key, repeat, event->modifiers(), this);
        event->accept();
        return;
    }
    if (character == '.') {
        m_pOwner->Navigate(Qt::Key_Period, repeat, event->modifiers(), this);
        event->accept();
        return;
    }
    if (character == ' ') {
        m_pOwner->Navigate(Qt::Key_Space, repeat, event->modifiers(), this);
        event->accept();
        return;
    }
    if (character == '\r') {
        // Swallowed: Enter in the address does not press the window's
        // default button either.
        event->accept();
        return;
    }
    if (character == 27) {
        // Escape belongs to the window that holds the control (a dialog
        // closes on it), not to the field.
        event->ignore();
        return;
    }
    if ((character >= '0' && character <= '9') || IsControlCharacter(character)) {
        QLineEdit::keyPressEvent(event);
        event->accept();
        if (text().size() == kFieldChars)
            m_pOwner->Navigate(event->key(), repeat, event->modifiers(), this);
        return;
    }
    event->accept();
    MessageBeep();
}

void CIPAddrEdit::OnKeyDown(QKeyEvent* event)
{
    int move = 0;
    if (event->key() == Qt::Key_Left && cursorPosition() == 0)
        move = Qt::Key_Left;
    else if (event->key() == Qt::Key_Right && cursorPosition() == text().size())
        move = Qt::Key_Right;
    // The key is the field's own as well, whether or not the focus moves.
    // It is handled before the move so that what it does to this field's
    // selection is what the field keeps while it has no focus.
    QLineEdit::keyPressEvent(event);
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)
        event->accept();  // arrows are the field's even at its ends
    if (move != 0)
        m_pOwner->Navigate(move, event->count(), event->modifiers(), this);
}

// Text from an input method or a drop would bypass the character rules of
// the keys: both are switched off for the fields, and what still arrives is
// dropped. Pasting stays, as the platform's edit field allows it.
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

void CIPAddrEdit::focusOutEvent(QFocusEvent* event)
{
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

CIPAddrCtl::CIPAddrCtl(QWidget* parent, std::uint32_t style) : QFrame(parent)
{
    m_bNoValidate = (style & IPAS_NOVALIDATE) != 0;
    // A widget made inside a disabled window starts disabled and is not told.
    m_bEnabled = isEnabled();
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::IBeamCursor);
    for (int i = 0; i < kFieldCount; ++i)
        m_fields[static_cast<std::size_t>(i)] = new CIPAddrEdit(this, i + 1);
    LayOut();
}

std::intptr_t CIPAddrCtl::SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    switch (message) {
    case IPAM_GETADDRESS: return GetAddress(wParam != 0, reinterpret_cast<IPAddrData*>(lParam));
    case IPAM_SETADDRESS: return SetAddress(reinterpret_cast<const std::uint8_t*>(lParam));
    case IPAM_SETREADONLY: return SetReadOnly(wParam != 0);
    default: return 0;
    }
}

int CIPAddrCtl::GetAddress(bool report, IPAddrData* address)
{
    if (!address)
        return 0;
    address->octets = {0, 0, 0, 0};
    address->badField = 0;

    std::array<int, kFieldCount> values{};
    int bad = 0;
    for (int n = 1; n <= kFieldCount && bad == 0; ++n) {
        const int value = ReadField(GetField(n));
        values[static_cast<std::size_t>(n - 1)] = value;
        if (!InByteRange(value))
            bad = n;
    }
    if (bad == 0) {
        for (std::size_t i = 0; i < values.size(); ++i)
            address->octets[i] = static_cast<std::uint8_t>(values[i]);
        return 1;
    }

    address->badField = bad;
    if (report) {
        const int value = values[static_cast<std::size_t>(bad - 1)];
        // A negative value counts as missing, whatever its digits.
        if (value < 0)
            ReportBadValue(IDS_IPADDR_MISSING, QString());
        else
            ReportBadValue(IDS_IPADDR_INVALID, QString::number(value));
    }
    FocusField(bad, true);
    return 0;
}

int CIPAddrCtl::SetAddress(const std::uint8_t* bytes)
{
    if (!bytes)
        return 0;
    for (int n = 1; n <= kFieldCount; ++n) {
        CIPAddrEdit* field = GetField(n);
        field->setText(QString::number(bytes[n - 1]));
        // Text put in from outside leaves the caret at its start.
        field->setCursorPosition(0);
    }
    return 1;
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
    if (n < 1 || n > kFieldCount)
        return nullptr;
    return m_fields[static_cast<std::size_t>(n - 1)];
}

void CIPAddrCtl::Navigate(int key, int repeatCount, Qt::KeyboardModifiers flags, CIPAddrEdit* from)
{
    Q_UNUSED(repeatCount);
    if (!from)
        return;
    const int n = GetDlgCtrlID(from);
    switch (key) {
    case Qt::Key_Tab:
        LeaveControl(flags.testFlag(Qt::ShiftModifier));
        return;
    case Qt::Key_Backtab:
        LeaveControl(true);
        return;
    case Qt::Key_Period:
    case Qt::Key_Space:
        if (n < kFieldCount)
            FocusField(n + 1, true);
        return;
    case Qt::Key_Right:
        if (n < kFieldCount)
            FocusField(n + 1, false);
        return;
    case Qt::Key_Left:
        if (n > 1)
            FocusField(n - 1, false);
        return;
    default:
        FieldFull(from);
        return;
    }
}

void CIPAddrCtl::FieldFull(CIPAddrEdit* field)
{
    if (!m_bNoValidate) {
        const int value = ParseFieldText(field->text());
        if (!InByteRange(value)) {
            ReportBadValue(IDS_IPADDR_INVALID, field->text());
            FocusField(GetDlgCtrlID(field), true);
            return;
        }
    }
    Navigate(Qt::Key_Period, 1, Qt::NoModifier, field);
}

void CIPAddrCtl::ReportBadValue(int textId, const QString& value)
{
    MessageBoxRequest request;
    request.owner = this;
    request.caption = LoadString(IDS_IPADDR_CAPTION);
    request.text = FormatString1(textId, value);
    request.textId = textId;
    request.buttons = MsgButtons::Ok;
    request.icon = MsgIcon::Exclamation;
    ShowMessageBox(std::move(request));
}

void CIPAddrCtl::FocusField(int n, bool selectAll)
{
    CIPAddrEdit* field = GetField(n);
    if (!field)
        return;
    field->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        field->selectAll();  // also brings the caret into view
}

void CIPAddrCtl::LeaveControl(bool backwards)
{
    // The next (or previous) tab stop of the window after the control,
    // skipping the control's own fields, wrapping round as tabbing does.
    QWidget* candidate = this;
    for (;;) {
        candidate = backwards ? candidate->previousInFocusChain() : candidate->nextInFocusChain();
        if (!candidate || candidate == this)
            break;
        if (isAncestorOf(candidate) || candidate->window() != window())
            continue;
        if ((candidate->focusPolicy() & Qt::TabFocus) && candidate->isEnabled() && candidate->isVisibleTo(window()))
            break;
    }
    if (!candidate)
        return;
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
            for (CIPAddrEdit* field : m_fields)
                field->setEnabled(enabled);
        }
        update();
    } else if (event->type() == QEvent::FontChange) {
        LayOut();
        update();
    }
}

// ---------------------------------------------------------------- exchange

bool DDX_IPAddr(CDataExchange& dx, int nIDC, std::array<std::uint8_t, 4>& value)
{
    auto* control = qobject_cast<CIPAddrCtl*>(GetDlgItem(dx.m_pDlgWnd, nIDC));
    if (!control) {
        // No such control: nothing was exchanged, and the pass must not
        // report success.
        return dx.Fail();
    }
    dx.PrepareCtrl(control);
    if (!dx.m_bSaveAndValidate) {
        control->SetAddress(value.data());
        return true;
    }
    IPAddrData data;
    if (!control->GetAddress(true, &data)) {
        dx.PrepareEditCtrl(control->GetField(data.badField));
        return dx.Fail();
    }
    value = data.octets;
    return true;
}

}  // namespace tessel
