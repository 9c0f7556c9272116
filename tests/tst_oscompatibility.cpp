#include "update/oscompatibility.h"

#include <QtTest>

class OsCompatibilityTest : public QObject
{
    Q_OBJECT

private slots:
    void rank_data();
    void rank();
    void rule_data();
    void rule();
    void logLine_data();
    void logLine();
};

void OsCompatibilityTest::rank_data()
{
    QTest::addColumn<int>("winVersion");
    QTest::addColumn<int>("rank");

    QTest::newRow("NT") << 0x0010 << 0;
    QTest::newRow("2000") << 0x0020 << 0;
    QTest::newRow("XP") << 0x0030 << 0;
    QTest::newRow("2003") << 0x0040 << 0;
    QTest::newRow("Vista") << 0x0080 << 0;
    QTest::newRow("7") << 0x0090 << 1;
    QTest::newRow("8") << 0x00a0 << 2;
    QTest::newRow("8.1") << 0x00b0 << 3;
    QTest::newRow("10") << 0x00c0 << 4;
    QTest::newRow("unknown") << 0x00d0 << 5;
    QTest::newRow("none") << 0 << 5;
}

void OsCompatibilityTest::rank()
{
    QFETCH(int, winVersion);
    QFETCH(int, rank);
    QCOMPARE(osVersionRank(winVersion), rank);
}

void OsCompatibilityTest::rule_data()
{
    // admits: the ranks (0 NT..Vista, 1 7, 2 8, 3 8.1, 4 10, 5 other) the rule lets through.
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("admits");

    QTest::newRow("any") << "any" << "012345";
    QTest::newRow("empty") << "" << "012345";
    QTest::newRow("7") << "7" << "1";
    QTest::newRow("7+") << "7+" << "12345";
    QTest::newRow("7-") << "7-" << "01";
    QTest::newRow("8") << "8" << "2";
    QTest::newRow("8+") << "8+" << "2345";
    QTest::newRow("8-") << "8-" << "012";
    QTest::newRow("8.1") << "8.1" << "3";
    QTest::newRow("8.1+") << "8.1+" << "345";
    QTest::newRow("8.1-") << "8.1-" << "0123";
    QTest::newRow("10") << "10" << "4";
    QTest::newRow("10+") << "10+" << "45";
    QTest::newRow("10-") << "10-" << "01234";
    QTest::newRow("padded") << "  8.1+ " << "345";
    QTest::newRow("ANY is no short-cut") << "ANY" << "";
    QTest::newRow("padded any is no short-cut") << " any" << "";
    QTest::newRow("spaces only") << "   " << "";
    QTest::newRow("plus alone") << "+" << "";
    QTest::newRow("minus alone") << "-" << "";
    QTest::newRow("space before suffix") << "7 +" << "";
    QTest::newRow("doubled suffix") << "7++" << "";
    QTest::newRow("leading zero") << "07" << "";
    QTest::newRow("7.0") << "7.0" << "";
    QTest::newRow("win7") << "win7" << "";
    QTest::newRow("vista") << "vista" << "";
}

void OsCompatibilityTest::rule()
{
    QFETCH(QString, rule);
    QFETCH(QString, admits);
    for (int rank = 0; rank <= 5; ++rank) {
        const bool expected = admits.contains(QString::number(rank));
        QVERIFY2(isOsCompatible(rule, [rank] { return rank; }) == expected,
                 qPrintable(QStringLiteral("rank %1").arg(rank)));
    }
}

void OsCompatibilityTest::logLine_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("asksForRank");

    QTest::newRow("any") << "any" << QString() << false;
    QTest::newRow("empty") << "" << QString() << false;
    QTest::newRow("or newer, trimmed") << " 8.1+ " << "Checking if current OS is more recent or same as Windows-8.1" << true;
    QTest::newRow("or older") << "7-" << "Checking if current OS is prior or same as Windows-7" << true;
    QTest::newRow("exact") << "7" << "Checking if current OS is same as Windows-7" << true;
    QTest::newRow("upper case any") << "ANY" << "Checking if current OS is same as Windows-any" << true;
    QTest::newRow("spaces only") << "  " << "Checking if current OS is same as Windows-" << true;
    QTest::newRow("plus alone") << "+" << "Checking if current OS is more recent or same as Windows-" << true;
}

void OsCompatibilityTest::logLine()
{
    QFETCH(QString, rule);
    QFETCH(QString, line);
    QFETCH(bool, asksForRank);
    if (!line.isEmpty())
        QTest::ignoreMessage(QtInfoMsg, qPrintable(line));
    bool asked = false;
    isOsCompatible(rule, [&asked] { asked = true; return 4; });
    QCOMPARE(asked, asksForRank);
}

QTEST_GUILESS_MAIN(OsCompatibilityTest)
#include "tst_oscompatibility.moc"
