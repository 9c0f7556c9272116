#ifndef UPDATERTESTMAIN_H
#define UPDATERTESTMAIN_H

#include "app/updaterapp.h"

#include <QtTest>

// Like QTEST_GUILESS_MAIN, but with the updater's own application object, which the
// code under test reaches through QCoreApplication::instance().
#define UPDATER_TEST_MAIN(TestObject) \
    int main(int argc, char *argv[]) \
    { \
        UpdaterApp app(argc, argv); \
        TestObject test; \
        return QTest::qExec(&test, argc, argv); \
    }

#endif
