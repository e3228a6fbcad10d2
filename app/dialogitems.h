// A control's number within its window. The windows' layouts, their command
// handlers and the data exchange all name controls by these fixed numbers.
#pragma once

#include <QString>
#include <QWidget>

namespace tessel {

void SetDlgCtrlID(QWidget* control, int id);
int GetDlgCtrlID(const QWidget* control);  // 0 when it has none
// The direct child of `parent` with that number, or null.
QWidget* GetDlgItem(const QWidget* parent, int id);

// A control's text as the window's code set it. A multi-line text field
// shows CR LF as a line break but gives back exactly what it was given, as
// the system's edit control does; other controls keep their caption.
void SetWindowText(QWidget* control, const QString& text);
QString GetWindowText(const QWidget* control);

}  // namespace tessel
