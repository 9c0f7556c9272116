#include "update/versioncompare.h"

#include <QtTest>

class VersionCompareTest : public QObject
{
    Q_OBJECT

private slots:
    void compare_data();
    void compare();
};

void VersionCompareTest::compare_data()
{
    QTest::addColumn<QString>("candidate");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("result");

    QTest::newRow("equal texts") << "2.0.1610051745" << "2.0.1610051745" << 0;
    QTest::newRow("third component lower") << "2.0.1" << "2.0.1610051745" << -1;
    QTest::newRow("third component higher") << "2.0.1610051745" << "2.0.1" << 1;
    QTest::newRow("second component, longer current") << "2.1" << "2.0.9" << 1;
    QTest::newRow("second component") << "2.1" << "2.0.1610051745" << 1;
    QTest::newRow("first component") << "3" << "2.0.1610051745" << 1;
    QTest::newRow("candidate runs out first") << "2.0" << "2.0.0" << 1;
    QTest::newRow("current runs out first") << "2.0.0" << "2.0" << -1;
    QTest::newRow("single component") << "2" << "2.0.1610051745" << 1;
    QTest::newRow("two components") << "2.0" << "2.0.1610051745" << 1;
    QTest::newRow("extra component is older") << "2.0.1610051745.1" << "2.0.1610051745" << -1;
    QTest::newRow("candidate wildcard") << "2.x" << "2.5" << 1;
    QTest::newRow("wildcard first component") << "x" << "2.0.1610051745" << 1;
    QTest::newRow("current wildcard") << "2.5" << "2.x" << -1;
    QTest::newRow("both wildcards, candidate first") << "2.x.1" << "2.x.2" << 1;
    QTest::newRow("both wildcards, other way") << "2.x.2" << "2.x.1" << 1;
    QTest::newRow("capital X is no wildcard") << "2.X" << "2.5" << -1;
    QTest::newRow("beta stops wildcard test") << "2.beta" << "2.x" << 0;
    QTest::newRow("beta counts as 0") << "2.beta" << "2.1" << -1;
    QTest::newRow("beta on current side") << "2.1" << "2.beta" << 1;
    QTest::newRow("letters against number") << "abc" << "1" << -1;
    QTest::newRow("letters against letters") << "abc" << "def" << 0;
    QTest::newRow("empty candidate") << "" << "2.0.1610051745" << -1;
    QTest::newRow("empty component") << "2..1" << "2.0.1" << 0;
    QTest::newRow("leading zeros") << "02.00.1610051745" << "2.0.1610051745" << 0;
    // Time-stamp versions outgrow 32 bits from 2022 on; they must still count as newer.
    QTest::newRow("64-bit component newer") << "2.0.2201010000" << "2.0.1610051745" << 1;
    QTest::newRow("64-bit component older") << "2.0.1610051745" << "2.0.2201010000" << -1;
    QTest::newRow("largest 64-bit") << "2.0.9223372036854775807" << "2.0.9223372036854775806" << 1;
    QTest::newRow("beyond 64 bits counts as 0") << "2.0.9223372036854775808" << "2.0.1" << -1;
}

void VersionCompareTest::compare()
{
    QFETCH(QString, candidate);
    QFETCH(QString, current);
    QFETCH(int, result);
    // The candidate comes first, also when equal texts end the comparison at once.
    QTest::ignoreMessage(QtInfoMsg, qUtf8Printable("Checking if version " + candidate + " is more recent than " + current));
    QCOMPARE(compareVersions(candidate, current), result);
}

QTEST_GUILESS_MAIN(VersionCompareTest)
#include "tst_versioncompare.moc"
