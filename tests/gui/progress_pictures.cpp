// Saves pictures of the progress windows (every stage text, the bar part
// way) for a person to look at: progress_pictures [FOLDER].
#include <QApplication>
#include <QDir>
#include <QPixmap>

#include "resources/texts.h"
#include "app/progress_windows.h"

using namespace tessel;

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    auto save = [&](QWidget& window, const QString& name) { window.grab().save(folder.filePath(name + ".png")); };
    ProgressWindow validating(ValidatingTemplate(), nullptr);
    validating.ShowNow();
    save(validating, "validating-131");
    ProgressWindow notice(ShutdownNoticeTemplate(), nullptr);
    notice.ShowNow();
    save(notice, "shutdown-133");
    CStageDlg stage;
    stage.ShowNow();
    save(stage, "stage-132-initial");
    int bar = 10;
    for (int text : {IDS_STAGE_WAITING, IDS_STAGE_SETTING, IDS_STAGE_VERIFYING, IDS_STAGE_SAVING, IDS_STAGE_RETRYING}) {
        stage.SetStageText(text);
        stage.SetBar(bar += 15);
        save(stage, QStringLiteral("stage-132-%1").arg(text));
    }
    return 0;
}
