#ifndef UPDATERTESTMAIN_H
#define UPDATERTESTMAIN_H

#include "app/updaterapp.h"

#include <QDir>
#include <QtTest>

// ctest gives every test process a temporary folder of its own as TMPDIR; Windows takes
// it from TMP and TEMP, which wine sets to one shared folder of its own.
inline void useTestTemporaryFolder()
{
#ifdef Q_OS_WIN
    const QString folder = qEnvironmentVariable("TMPDIR");
    if (folder.isEmpty())
        return;
    const QByteArray native = QDir::toNativeSeparators(QDir(folder).absolutePath()).toLocal8Bit();
    qputenv("TMP", native);
    qputenv("TEMP", native);
#endif
}

// Like QTEST_GUILESS_MAIN, but with the updater's own application object, which the
// code under test reaches through QCoreApplication::instance().
#define UPDATER_TEST_MAIN(TestObject) \
    int main(int argc, char *argv[]) \
    { \
        useTestTemporaryFolder(); \
        UpdaterApp app(argc, argv); \
        TestObject test; \
        return QTest::qExec(&test, argc, argv); \
    }

#endif
