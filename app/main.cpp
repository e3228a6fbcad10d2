// Start-up of the windowed program. Until the main window exists it shows
// the address control preview.
#include <QApplication>

#include "app/controlpreview.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    tessel::CControlPreviewDlg preview;
    preview.show();
    return app.exec();
}
