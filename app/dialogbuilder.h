// The Qt window's dialog builder: makes a QDialog's children from the rows
// of a dialog template, converting dialog units with the dialog font.
#pragma once

#include <QDialog>
#include <QRect>

#include <functional>
#include <vector>

#include "app/dialogunits.h"
#include "resources/dialogtemplate.h"

namespace tessel {

// Makes one control of a registered window class: the control is created
// as a child of `parent`; the builder then places it and gives it its id.
using ControlFactory = std::function<QWidget*(QWidget* parent, const ControlTemplate& item)>;
// Registers a window class for Custom controls, replacing an earlier one of
// the same name.
void RegisterControlClass(const char* windowClass, ControlFactory factory);

// The control's rectangle in pixels.
QRect ControlRect(const ControlTemplate& item, const DialogUnits& units);
// The dialog's client size in pixels, measured in its own font.
QSize DialogClientSize(const DialogTemplate& dialog);

// Sets up `dialog` from the template (font, caption, fixed client size,
// window flags) and creates its controls in table order, each at its place
// with its number, the focus chain following the table. Returns the
// controls in table order; a Custom control whose class is not registered
// is skipped with a warning and stands as null in the result.
std::vector<QWidget*> BuildDialog(QDialog& dialog, const DialogTemplate& tmpl);

// The controls that the Tab key visits in `dialog`, in order.
std::vector<QWidget*> TabOrder(const QWidget& dialog);

}  // namespace tessel
