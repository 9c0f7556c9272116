#include "support/sandbox.h"

#include <QtTest>

// The Windows version rule against the Windows that wine presents: 7, 8, 8.1 and 10 in turn.
class WindowsVersionTest : public QObject
{
    Q_OBJECT

private slots:
    void rank_data();
    void rank();
};

void WindowsVersionTest::rank_data()
{
    QTest::addColumn<QString>("wineVersion");
    QTest::addColumn<int>("rank");
    QTest::newRow("Windows 7") << "win7" << 1;
    QTest::newRow("Windows 8") << "win8" << 2;
    QTest::newRow("Windows 8.1") << "win81" << 3;
    QTest::newRow("Windows 10") << "win10" << 4;
}

void WindowsVersionTest::rank()
{
#ifndef Q_OS_WIN
    QSKIP("The Windows version is set through wine");
#else
    QFETCH(QString, wineVersion);
    QFETCH(int, rank);
    QSettings wine(QStringLiteral("HKEY_CURRENT_USER\\Software\\Wine"), QSettings::NativeFormat);
    if (!wine.childGroups().contains(QStringLiteral("Drivers")))
        QSKIP("The Windows version is set through wine");
    // Wine presents a version per program name: a copy of the updater of its own lets
    // every version be set without touching other tests' runs.
    Sandbox sandbox;
    const QString program = sandbox.path("updater-" + wineVersion + ".exe");
    QVERIFY(QFile::copy(QStringLiteral(UPDATER_EXECUTABLE), program));
    const QString setting = "AppDefaults/updater-" + wineVersion + ".exe/Version";
    wine.setValue(setting, wineVersion);
    wine.sync();

    const QStringList names{"7", "8", "8.1", "10"};
    for (int wanted = 1; wanted <= names.size(); ++wanted) {
        const QString name = names.at(wanted - 1);
        sandbox.putRemote("updates.json", R"({"md5": "abc", "os": "windows", "version": "2.1", )"
                                          R"("compatible_os_version": ")" + name.toLatin1() + "\"}");
        QFile::remove(sandbox.updatesFolder() + "/updater.log");
        QCOMPARE(sandbox.run(sandbox.arguments(), program).exitCode, 0);
        const QStringList log = sandbox.logLines();
        const QStringList lines = log.mid(log.size() - 2);
        const QString verdict = wanted == rank ? "Checking if version 2.1 is more recent than 2.0.1610051745"
                                               : "Target OS Version is not compatible.";
        QCOMPARE(lines, (QStringList{"Checking if current OS is same as Windows-" + name, verdict}));
        if (wanted == rank)
            qInfo("%s gives rank %d: %s", qUtf8Printable(wineVersion), rank, qUtf8Printable(lines.join(" / ")));
    }
    wine.remove("AppDefaults/updater-" + wineVersion + ".exe");
#endif
}

QTEST_GUILESS_MAIN(WindowsVersionTest)
#include "tst_windowsversion.moc"
