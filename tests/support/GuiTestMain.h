#pragma once
#include "TestEnv.h"
#include "gui/DesktopStyle.h"

#include <QApplication>
#include <QTest>

// Entry point for window tests: isolated folders, a QApplication that can host
// the web engine, then the QtTest object.
#define DH_GUI_TEST_MAIN(TestClass)                                             \
    int main(int argc, char** argv)                                             \
    {                                                                           \
        dh::test::isolateEnvironment();                                         \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);             \
        QApplication app(argc, argv);                                           \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                \
        dh::installDesktopStyle(app);                                           \
        TestClass tc;                                                           \
        return QTest::qExec(&tc, argc, argv);                                   \
    }
