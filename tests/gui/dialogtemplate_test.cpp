// Dialog templates: what the builder makes of a table is what the table
// says, for every dialog of the program: each control at its place in
// dialog units, with its number, shown or hidden, stacked and reached by
// Tab in table order.
#include <QDialog>
#include <QtTest>

#include "app/windowclasses.h"
#include "app/dialogbuilder.h"
#include "app/dialogitems.h"
#include "resources/dialogs.h"
#include "app/images.h"
#include "tests/gui/gui_test_main.h"

using namespace tessel;

Q_DECLARE_METATYPE(const DialogTemplate*)

class DialogTemplateTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { RegisterWindowClasses(); }

    void everyControlAsTheTableSays_data()
    {
        QTest::addColumn<const DialogTemplate*>("dialog");
        QTest::newRow("about box") << &AboutBoxTemplate();
        QTest::newRow("main window") << &MainDialogTemplate();
    }

    void everyControlAsTheTableSays()
    {
        QFETCH(const DialogTemplate*, dialog);
        QDialog window;
        const std::vector<QWidget*> made = BuildDialog(window, *dialog);
        const DialogUnits units(DialogFont(dialog->fontPoints));
        QCOMPARE(window.size(), units.toPixels(dialog->cx, dialog->cy));
        QCOMPARE(window.minimumSize(), window.maximumSize());

        QCOMPARE(made.size(), dialog->controls.size());
        std::vector<QWidget*> tabStops;
        for (std::size_t i = 0; i < made.size(); ++i) {
            const ControlTemplate& item = dialog->controls[i];
            QWidget* control = made[i];
            QVERIFY2(control, qPrintable(QStringLiteral("control %1 was not made").arg(item.id)));
            QCOMPARE(GetDlgCtrlID(control), item.id);
            const QRect rect = ControlRect(item, units);
            if (item.kind == ControlKind::Icon) {
                QCOMPARE(control->pos(), rect.topLeft());
                // An icon control takes the icon's size.
                const bool hasIcon = !LoadIconPixmap(item.resource, 32).isNull();
                QCOMPARE(control->size(), hasIcon ? QSize(32, 32) : rect.size());
            } else {
                QCOMPARE(control->geometry(), rect);
            }
            QCOMPARE(control->isHidden(), (item.style & style::Hidden) != 0);
            if (item.style & style::TabStop) tabStops.push_back(control);
            // A control that takes the mouse is not covered by one made
            // later (a group box or frame round it).
            if (!control->testAttribute(Qt::WA_TransparentForMouseEvents) && !control->isHidden()) {
                QWidget* hit = window.childAt(rect.intersected(window.rect()).center());
                QVERIFY2(hit == control || control->isAncestorOf(hit),
                         qPrintable(QStringLiteral("control %1 is covered").arg(item.id)));
            }
        }
        QCOMPARE(TabOrder(window), tabStops);
    }
};

TESSEL_GUI_TEST_MAIN(DialogTemplateTest)
#include "dialogtemplate_test.moc"
