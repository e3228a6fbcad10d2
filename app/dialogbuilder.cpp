#include "app/dialogbuilder.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtDebug>

#include "app/animatectrl.h"
#include "app/dialogitems.h"
#include "app/images.h"

namespace tessel {
namespace {

// A picture that exceeds its control by more than this is scaled down to
// fit; a smaller difference is left to centring, which keeps small
// pictures sharp.
constexpr int kPictureSlackPixels = 4;

QMap<QString, ControlFactory>& ControlClasses()
{
    static QMap<QString, ControlFactory> classes;
    return classes;
}

bool Has(const ControlTemplate& item, std::uint32_t bit)
{
    return (item.style & bit) != 0;
}

QString TextOf(const ControlTemplate& item)
{
    return QString::fromUtf8(item.text ? item.text : "");
}

// A picture control: the picture at its own size, centred, unless it is
// clearly larger than the control, when it is scaled down to fit.
QWidget* MakePicture(QWidget* parent, const ControlTemplate& item, const QRect& rect)
{
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    QPixmap picture = item.kind == ControlKind::Icon ? LoadIconPixmap(item.resource, 32) : LoadBitmap(item.resource);
    if (!picture.isNull() && (picture.width() > rect.width() + kPictureSlackPixels ||
                              picture.height() > rect.height() + kPictureSlackPixels)) {
        picture = picture.scaled(rect.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    label->setPixmap(picture);
    return label;
}

QWidget* MakeListView(QWidget* parent, const ControlTemplate& item)
{
    auto* view = new QTreeView(parent);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(Has(item, style::SingleSelection) ? QAbstractItemView::SingleSelection
                                                             : QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setSectionsClickable(!Has(item, style::NoSortHeader));
    view->header()->setSectionsMovable(false);
    view->header()->setStretchLastSection(false);
    // The rows arrive in order; the view must never sort them itself.
    view->setSortingEnabled(false);
    if (Has(item, style::ShowSelectionAlways)) {
        QPalette palette = view->palette();
        for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
            palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
        view->setPalette(palette);
    }
    view->setFrameStyle(Has(item, style::ClientEdge) ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
    return view;
}

QWidget* MakeEdit(QWidget* parent, const ControlTemplate& item)
{
    const bool readOnly = Has(item, style::ReadOnly);
    const bool border = Has(item, style::Border) || Has(item, style::ClientEdge);
    QWidget* widget = nullptr;
    if (Has(item, style::MultiLine)) {
        auto* edit = new QPlainTextEdit(parent);
        edit->setReadOnly(readOnly);
        edit->setFrameStyle(border ? QFrame::StyledPanel | QFrame::Sunken : QFrame::NoFrame);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->document()->setDocumentMargin(0);
        edit->setContextMenuPolicy(Qt::NoContextMenu);
        widget = edit;
        if (readOnly) {
            edit->viewport()->setAutoFillBackground(false);
            edit->setTextInteractionFlags(Qt::TextSelectableByMouse);
        }
    } else {
        auto* edit = new QLineEdit(parent);
        edit->setReadOnly(readOnly);
        edit->setFrame(border);
        edit->setTextMargins(0, 0, 0, 0);
        edit->setContextMenuPolicy(Qt::NoContextMenu);
        widget = edit;
    }
    // A read-only field shows the window's colour, as the system draws one.
    if (readOnly) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        widget->setPalette(palette);
    }
    return widget;
}

QWidget* MakeControl(QWidget* parent, const ControlTemplate& item, const QRect& rect)
{
    const QString text = TextOf(item);
    switch (item.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, parent);
        button->setFlat(Has(item, style::Flat));
        button->setDefault(Has(item, style::DefaultButton));
        // A transparent button draws no face of its own over the window.
        if (Has(item, style::Transparent)) button->setAutoFillBackground(false);
        return button;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(text, parent);
    case ControlKind::Text: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        label->setAlignment((Has(item, style::Center) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case ControlKind::Image:
    case ControlKind::Icon:
        return MakePicture(parent, item, rect);
    case ControlKind::GroupBox:
        return new QGroupBox(text, parent);
    case ControlKind::GrayFrame: {
        auto* frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
        frame->setLineWidth(1);
        QPalette palette = frame->palette();
        palette.setColor(QPalette::WindowText, palette.color(QPalette::Dark));
        frame->setPalette(palette);
        return frame;
    }
    case ControlKind::Edit:
        return MakeEdit(parent, item);
    case ControlKind::ListView:
        return MakeListView(parent, item);
    case ControlKind::Animation:
        return new CAnimateCtrl(parent);
    case ControlKind::Custom: {
        const auto found = ControlClasses().constFind(QString::fromLatin1(item.windowClass ? item.windowClass : ""));
        if (found == ControlClasses().constEnd()) {
            qWarning("dialog template: no window class \"%s\" for control %d", item.windowClass, item.id);
            return nullptr;
        }
        return (*found)(parent, item);
    }
    }
    return nullptr;
}

Qt::FocusPolicy FocusPolicyOf(const ControlTemplate& item)
{
    switch (item.kind) {
    case ControlKind::Text:
    case ControlKind::Image:
    case ControlKind::Icon:
    case ControlKind::GroupBox:
    case ControlKind::GrayFrame:
    case ControlKind::Animation:
        return Qt::NoFocus;
    default:
        // A control that is no tab stop still takes the focus when clicked.
        return Has(item, style::TabStop) ? Qt::StrongFocus : Qt::ClickFocus;
    }
}

}  // namespace

void RegisterControlClass(const char* windowClass, ControlFactory factory)
{
    ControlClasses().insert(QString::fromLatin1(windowClass), std::move(factory));
}

QRect ControlRect(const ControlTemplate& item, const DialogUnits& units)
{
    return units.toPixels(item.x, item.y, item.cx, item.cy);
}

QSize DialogClientSize(const DialogTemplate& dialog)
{
    return DialogUnits(DialogFont(dialog.fontPoints)).toPixels(dialog.cx, dialog.cy);
}

std::vector<QWidget*> BuildDialog(QDialog& dialog, const DialogTemplate& tmpl)
{
    dialog.setFont(DialogFont(tmpl.fontPoints));
    const DialogUnits units(dialog.font());
    dialog.setWindowTitle(QString::fromUtf8(tmpl.caption ? tmpl.caption : ""));

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
    if (tmpl.style & dialogstyle::NoCaption)
        flags |= Qt::FramelessWindowHint;
    else
        flags |= Qt::WindowTitleHint;
    if (tmpl.style & dialogstyle::SystemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tmpl.style & dialogstyle::MinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
    if (tmpl.style & dialogstyle::TaskbarButton) flags = (flags & ~Qt::WindowType_Mask) | Qt::Window;
    dialog.setWindowFlags(flags);
    dialog.setFixedSize(units.toPixels(tmpl.cx, tmpl.cy));

    std::vector<QWidget*> controls;
    controls.reserve(tmpl.controls.size());
    QWidget* previousStop = nullptr;
    for (const ControlTemplate& item : tmpl.controls) {
        const QRect rect = ControlRect(item, units);
        QWidget* control = MakeControl(&dialog, item, rect);
        controls.push_back(control);
        if (!control) continue;
        SetDlgCtrlID(control, item.id);
        control->setGeometry(rect);
        // An icon control takes the icon's size, as the system's does.
        if (auto* label = qobject_cast<QLabel*>(control); label && item.kind == ControlKind::Icon)
            control->resize(label->pixmap().isNull() ? rect.size() : label->pixmap().size());
        if (item.kind != ControlKind::Custom) control->setFocusPolicy(FocusPolicyOf(item));
        // Texts, pictures, frames and group boxes let the mouse through to
        // what lies under them, as the system's static controls do.
        if (FocusPolicyOf(item) == Qt::NoFocus && item.kind != ControlKind::Animation)
            control->setAttribute(Qt::WA_TransparentForMouseEvents);
        else if (!(item.style & style::TabStop) && control->focusPolicy() != Qt::NoFocus)
            control->setFocusPolicy(Qt::ClickFocus);
        if (item.style & style::Disabled) control->setEnabled(false);
        if (item.style & style::Hidden) control->setVisible(false);
        // The first control lies on top, as in the system's dialogs: a group
        // box drawn round a list must not cover it or take its clicks.
        control->lower();
        // The focus chain follows the table; controls that are no tab stop
        // stay out of it.
        if (item.style & style::TabStop) {
            if (previousStop) QWidget::setTabOrder(previousStop, control);
            previousStop = control;
        }
    }
    return controls;
}

std::vector<QWidget*> TabOrder(const QWidget& dialog)
{
    std::vector<QWidget*> order;
    // Walk the focus chain once round from the dialog; the controls that
    // Tab reaches are the enabled, visible ones that take the focus by Tab.
    QWidget* start = const_cast<QWidget&>(dialog).nextInFocusChain();
    for (QWidget* w = start; w && w != &dialog; w = w->nextInFocusChain()) {
        if (w->parentWidget() != &dialog) continue;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && !w->isHidden()) order.push_back(w);
    }
    return order;
}

}  // namespace tessel
