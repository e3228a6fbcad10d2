// The main function of every GUI test: offscreen unless told otherwise, so
// a test runs the same from ctest, from a terminal and on a machine
// without a display.
#pragma once

#include <QApplication>
#include <QtTest>

#define TESSEL_GUI_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char* argv[])                                                                 \
    {                                                                                                \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
        QApplication app(argc, argv);                                                                \
        TestClass test;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                   \
        return QTest::qExec(&test, argc, argv);                                                      \
    }
