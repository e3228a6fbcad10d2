// How the address control looks at its size in the main window: pictures
// of it enabled, disabled and read-only are saved to the build directory,
// and the layout is checked where a picture would show a fault.
#include <QDir>
#include <QImage>
#include <QtTest>

#include "tests/gui/controlpreview.h"
#include "app/ipaddrctl.h"
#include "app/dialogunits.h"
#include "tests/gui/gui_test_main.h"

using namespace tessel;

namespace {

// True when some pixel of `area` differs clearly from `background`.
bool HasInk(const QImage& image, const QRect& area, const QColor& background)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int diff = std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                             std::abs(c.blue() - background.blue());
            if (diff > 60) return true;
        }
    }
    return false;
}

}  // namespace

class IPAddrCtlLookTest final : public QObject {
    Q_OBJECT

private slots:
    void controlsHaveTheMainWindowSize()
    {
        CControlPreviewDlg preview;
        const DialogUnits du(DialogFont(kMainDialogFontPoints));
        QVERIFY(du.baseX() > 0 && du.baseY() > 0);
        for (CIPAddrCtl* control : {preview.Enabled(), preview.Disabled(), preview.ReadOnly()})
            QCOMPARE(control->size(), du.toPixels(kAddressWidthDlu, kAddressHeightDlu));
    }

    void dotsSitBetweenTheFieldsAndNothingClips()
    {
        CControlPreviewDlg preview;
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));

        CIPAddrCtl* control = preview.Enabled();
        const QRect client = control->contentsRect();
        const QFontMetrics metrics = control->GetField(1)->fontMetrics();
        for (int i = 0; i < 4; ++i) {
            const QRect field = control->FieldRect(i);
            QVERIFY2(field.left() >= 0 && field.right() < client.width() && field.bottom() < client.height(),
                     "a field reaches outside the frame");
            // The widest text a field holds must fit in it with room for
            // the caret, or the field scrolls and cuts a digit off.
            const int widest = metrics.horizontalAdvance(QStringLiteral("888"));
            QVERIFY2(field.width() >= widest + 3, qPrintable(QStringLiteral("field %1 is %2 px wide for %3 px of text")
                                                                 .arg(i + 1)
                                                                 .arg(field.width())
                                                                 .arg(widest)));
            QCOMPARE(control->GetField(i + 1)->geometry(), field.translated(client.topLeft()));
        }
        for (int j = 0; j < 3; ++j) {
            const QRect dot = control->DotRect(j);
            QCOMPARE(dot.left(), control->FieldRect(j).right() + 1);
            QCOMPARE(dot.right(), control->FieldRect(j + 1).left() - 1);
            QVERIFY(dot.width() > 0);
        }

        // The pixels: each dot is painted inside its gap, and each field
        // shows its digits.
        const QImage image = control->grab().toImage();
        const QColor background = control->palette().color(QPalette::Active, QPalette::Base);
        for (int j = 0; j < 3; ++j)
            QVERIFY2(HasInk(image, control->DotRect(j).translated(client.topLeft()), background),
                     qPrintable(QStringLiteral("dot %1 is not painted").arg(j + 1)));
        for (int i = 0; i < 4; ++i)
            QVERIFY2(HasInk(image, control->FieldRect(i).translated(client.topLeft()), background),
                     qPrintable(QStringLiteral("field %1 shows no text").arg(i + 1)));
        // Nothing is painted right of the last field inside the frame.
        const int rightOfFields = control->FieldRect(3).right() + 1;
        if (rightOfFields < client.width())
            QVERIFY(!HasInk(
                image,
                QRect(client.left() + rightOfFields, client.top(), client.width() - rightOfFields, client.height()),
                background));
    }

    void savePictures()
    {
        CControlPreviewDlg preview;
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        const QString dir = QStringLiteral(TESSEL_SCREENSHOT_DIR);
        QVERIFY(preview.grab().save(QDir(dir).filePath(QStringLiteral("ipaddr-control-preview.png"))));
        // Each control alone, enlarged four times so single pixels can be seen.
        const std::array<std::pair<CIPAddrCtl*, const char*>, 3> looks{std::pair{preview.Enabled(), "enabled"},
                                                                       std::pair{preview.Disabled(), "disabled"},
                                                                       std::pair{preview.ReadOnly(), "readonly"}};
        for (const auto& [control, name] : looks) {
            const QImage image = control->grab().toImage();
            const QImage big = image.scaled(image.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            QVERIFY(big.save(QDir(dir).filePath(QStringLiteral("ipaddr-control-%1-x4.png").arg(QLatin1String(name)))));
        }
        qInfo("pictures saved in %s", qPrintable(dir));
    }
};

TESSEL_GUI_TEST_MAIN(IPAddrCtlLookTest)
#include "ipaddrctl_look_test.moc"
