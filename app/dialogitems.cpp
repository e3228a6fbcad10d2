#include "app/dialogitems.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVariant>

namespace tessel {
namespace {
constexpr const char* kCtrlIdProperty = "tesselCtrlId";
constexpr const char* kWindowTextProperty = "tesselWindowText";
}  // namespace

void SetDlgCtrlID(QWidget* control, int id)
{
    control->setProperty(kCtrlIdProperty, id);
}

int GetDlgCtrlID(const QWidget* control)
{
    return control ? control->property(kCtrlIdProperty).toInt() : 0;
}

QWidget* GetDlgItem(const QWidget* parent, int id)
{
    if (!parent || id == 0) return nullptr;
    // Direct children only: a control's own parts carry small numbers of
    // their own that must not be mistaken for the dialog's.
    const auto children = parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (GetDlgCtrlID(child) == id) return child;
    }
    return nullptr;
}

void SetWindowText(QWidget* control, const QString& text)
{
    if (!control) return;
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) {
        control->setProperty(kWindowTextProperty, text);
        QString shown = text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        edit->setPlainText(shown);
    } else if (auto* line = qobject_cast<QLineEdit*>(control)) {
        line->setText(text);
        line->setCursorPosition(0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(text);
    } else {
        control->setWindowTitle(text);
    }
}

QString GetWindowText(const QWidget* control)
{
    if (!control) return {};
    if (qobject_cast<const QPlainTextEdit*>(control)) return control->property(kWindowTextProperty).toString();
    if (auto* line = qobject_cast<const QLineEdit*>(control)) return line->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (auto* group = qobject_cast<const QGroupBox*>(control)) return group->title();
    return control->windowTitle();
}

}  // namespace tessel
