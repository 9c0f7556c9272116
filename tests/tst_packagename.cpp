#include "update/packagename.h"

#include <QtTest>

class PackageNameTest : public QObject
{
    Q_OBJECT

private slots:
    void allowed_data();
    void allowed();
};

void PackageNameTest::allowed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("plain") << "app-2.1.zip" << true;
    QTest::newRow("in a subfolder") << "pkg/app.zip" << true;
    QTest::newRow("doubled slash inside") << "pkg//app.zip" << true;
    QTest::newRow("dots in a name") << "app..zip" << true;
    QTest::newRow("current folder segment") << "./app.zip" << true;
    QTest::newRow("percent") << "100%.zip" << true;
    QTest::newRow("parent folder") << "../app.zip" << false;
    QTest::newRow("parent folder inside") << "pkg/../../app.zip" << false;
    QTest::newRow("parent folder last") << "pkg/.." << false;
    QTest::newRow("absolute") << "/etc/app.zip" << false;
    QTest::newRow("backslash") << "..\\app.zip" << false;
    QTest::newRow("backslash folder") << "pkg\\app.zip" << false;
    QTest::newRow("drive letter") << "C:app.zip" << false;
    QTest::newRow("drive letter absolute") << "C:/Windows/app.zip" << false;
    QTest::newRow("alternate data stream") << "app.zip:hidden" << false;
    QTest::newRow("line feed") << "app\n.zip" << false;
    QTest::newRow("windows wildcard") << "app*.zip" << false;
    QTest::newRow("windows quote") << "app\".zip" << false;
    QTest::newRow("windows pipe") << "a|b.zip" << false;
    QTest::newRow("device name") << "CON" << false;
    QTest::newRow("device name with extension") << "pkg/com1.tar.gz" << false;
    QTest::newRow("device name lower case, space") << "lpt9 .zip" << false;
    QTest::newRow("device-like names") << "console.zip/com10.zip/lpt0.zip" << true;
    QTest::newRow("trailing dot") << "app.zip." << false;
    QTest::newRow("trailing space in folder") << "pkg /app.zip" << false;
    QTest::newRow("names a folder") << "pkg/" << false;
    QTest::newRow("current folder") << "." << false;
    QTest::newRow("empty") << "" << false;
}

void PackageNameTest::allowed()
{
    QFETCH(QString, name);
    QFETCH(bool, allowed);
    QCOMPARE(isPackageNameAllowed(name), allowed);
}

QTEST_GUILESS_MAIN(PackageNameTest)
#include "tst_packagename.moc"
