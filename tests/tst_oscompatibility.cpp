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
    // admits: the ranks (0 NT..Vista, 1 7, 2 8, 3 8.1, 4 10, 5 other) the rule lets through;
    // line: what the rule logs before it asks for the rank, if it asks at all.
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("admits");
    QTest::addColumn<QString>("line");

    const QString same = QStringLiteral("Checking if current OS is same as Windows-");
    const QString newer = QStringLiteral("Checking if current OS is more recent or same as Windows-");
    const QString older = QStringLiteral("Checking if current OS is prior or same as Windows-");
    QTest::newRow("any") << "any" << "012345" << QString();
    QTest::newRow("empty") << "" << "012345" << QString();
    QTest::newRow("7") << "7" << "1" << same + "7";
    QTest::newRow("7+") << "7+" << "12345" << newer + "7";
    QTest::newRow("7-") << "7-" << "01" << older + "7";
    QTest::newRow("8") << "8" << "2" << same + "8";
    QTest::newRow("8+") << "8+" << "2345" << newer + "8";
    QTest::newRow("8-") << "8-" << "012" << older + "8";
    QTest::newRow("8.1") << "8.1" << "3" << same + "8.1";
    QTest::newRow("8.1+") << "8.1+" << "345" << newer + "8.1";
    QTest::newRow("8.1-") << "8.1-" << "0123" << older + "8.1";
    QTest::newRow("10") << "10" << "4" << same + "10";
    QTest::newRow("10+") << "10+" << "45" << newer + "10";
    QTest::newRow("10-") << "10-" << "01234" << older + "10";
    QTest::newRow("padded") << "  8.1+ " << "345" << newer + "8.1";
    QTest::newRow("ANY is no short-cut") << "ANY" << "" << same + "any";
    QTest::newRow("padded any is no short-cut") << " any" << "" << same + "any";
    QTest::newRow("spaces only") << "   " << "" << same;
    QTest::newRow("plus alone") << "+" << "" << newer;
    QTest::newRow("minus alone") << "-" << "" << older;
    QTest::newRow("space before suffix") << "7 +" << "" << newer + "7 ";
    QTest::newRow("doubled suffix") << "7++" << "" << newer + "7+";
    QTest::newRow("leading zero") << "07" << "" << same + "07";
    QTest::newRow("7.0") << "7.0" << "" << same + "7.0";
    QTest::newRow("win7") << "win7" << "" << same + "win7";
    QTest::newRow("vista") << "vista" << "" << same + "vista";
}

void OsCompatibilityTest::rule()
{
    QFETCH(QString, rule);
    QFETCH(QString, admits);
    QFETCH(QString, line);
    for (int rank = 0; rank <= 5; ++rank) {
        if (!line.isEmpty())
            QTest::ignoreMessage(QtInfoMsg, qUtf8Printable(line));
        bool asked = false;
        const bool compatible = isOsCompatible(rule, [rank, &asked] { asked = true; return rank; });
        QVERIFY2(compatible == admits.contains(QString::number(rank)), qUtf8Printable(QStringLiteral("rank %1").arg(rank)));
        QCOMPARE(asked, !line.isEmpty());
    }
}

QTEST_GUILESS_MAIN(OsCompatibilityTest)
#include "tst_oscompatibility.moc"
