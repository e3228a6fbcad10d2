// The window clock: a sleep paints, drops the user's input (a window
// manager's close included) and still lets a modal box be answered.
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpontaneKeyEvent>
#include <QTimer>

#include "tests/gui/gui_test_main.h"
#include "tests/hook_clock.h"
#include "app/window_clock.h"

using namespace tessel;

namespace {

class PaintCounter final : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

void SendSpontaneous(QObject* target, QEvent* event)
{
    QSpontaneKeyEvent::setSpontaneous(event);
    QCoreApplication::sendEvent(target, event);
}

}  // namespace

class WindowClockTest : public QObject {
    Q_OBJECT

private slots:
    void sleepPaintsDropsInputAndKeepsTheWindow()
    {
        tessel::testing::HookClock base;
        WindowClock clock(base);
        PaintCounter window;
        auto* button = new QPushButton("&Set IP address", &window);
        window.resize(200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy clicked(button, &QPushButton::clicked);

        const int paintsBefore = window.paints;
        bool once = false;
        base.afterSleep = [&](std::int64_t) {
            if (once) return;
            once = true;
            window.update();
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            SendSpontaneous(button, &press);
            SendSpontaneous(button, &release);
            QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
            SendSpontaneous(button, &space);
            QCloseEvent close;
            SendSpontaneous(&window, &close);
        };
        const std::int64_t start = base.NowMs();
        clock.SleepMs(1400);
        QCOMPARE(base.NowMs() - start, std::int64_t{1400});
        QVERIFY(window.paints > paintsBefore);
        QCoreApplication::processEvents();
        QCOMPARE(clicked.count(), 0);
        QVERIFY(window.isVisible());

        // Outside a sleep the same input works again.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }

    void aModalBoxOpenedDuringASleepTakesItsAnswer()
    {
        tessel::testing::HookClock base;
        WindowClock clock(base);
        QDialog box;
        box.setModal(true);
        int result = -1;
        bool once = false;
        base.afterSleep = [&](std::int64_t) {
            if (once) return;
            once = true;
            QTimer::singleShot(0, &box, [&] {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                SendSpontaneous(&box, &escape);
            });
            // Should the key never arrive, fail instead of hanging.
            QTimer::singleShot(2000, &box, [&] { box.done(99); });
            result = box.exec();
        };
        clock.SleepMs(400);
        QCOMPARE(result, int(QDialog::Rejected));
    }
};

TESSEL_GUI_TEST_MAIN(WindowClockTest)
#include "window_clock_test.moc"
