// The small caption-less windows that tell the user what is going on while
// the window is busy: "Validating..." (template 131) while an address is
// probed, the stage window CStageDlg (template 132) for "SETTING IP
// ADDRESS" and "Retrying...", and the shutdown notice (template 133). Each
// is made, shown and destroyed by the operation that needs it; none has a
// loop of its own and none can be cancelled.
#pragma once

#include <QDialog>

#include "resources/dialogs.h"

class QLabel;
class QProgressBar;

namespace tessel {

// A window made from one of the templates above, centred on the screen. It
// never closes by a key or the window manager: only its owner closes it.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    ProgressWindow(const DialogTemplate& tmpl, QWidget* parent);
    // Shows it centred and paints it at once.
    void ShowNow();

protected:
    void reject() override {}
    void closeEvent(QCloseEvent* event) override;
};

class CStageDlg final : public ProgressWindow {
    Q_OBJECT
public:
    explicit CStageDlg(QWidget* parent = nullptr);

    void SetStageText(int textId);
    void SetBar(int position);
    int Bar() const;
    QString StageText() const;

    QProgressBar* m_progress = nullptr;  // 1057
    QLabel* m_stageText = nullptr;       // 1048
};

}  // namespace tessel
