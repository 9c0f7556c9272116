#include "support/sandbox.h"
#include "transfer/retryafter.h"
#include "update/manifestrules.h"
#include "update/minisign.h"
#include "update/oscompatibility.h"
#include "update/packagename.h"
#include "update/versioncompare.h"

#include <QtTest>

// The updater's rules for what a manifest offers and where its package goes.
class RulesTest : public QObject
{
    Q_OBJECT

private slots:
    void versionCompare_data();
    void versionCompare();
    void osRule_data();
    void osRule();
    void packageName_data();
    void packageName();
    void rollout_data();
    void rollout();
    void rolloutPlace();
    void retryAfter_data();
    void retryAfter();
    void signatureFile_data();
    void signatureFile();
};

void RulesTest::versionCompare_data()
{
    QTest::addColumn<QString>("candidate");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("result");
    QTest::newRow("equal texts") << "2.0.1610051745" << "2.0.1610051745" << 0;
    QTest::newRow("third component lower") << "2.0.1" << "2.0.1610051745" << -1;
    QTest::newRow("candidate runs out first") << "2.0" << "2.0.0" << 1;
    QTest::newRow("current runs out first") << "2.0.0" << "2.0" << -1;
    QTest::newRow("candidate wildcard") << "2.x" << "2.5" << 1;
    QTest::newRow("current wildcard") << "2.5" << "2.x" << -1;
    QTest::newRow("capital X is no wildcard") << "2.X" << "2.5" << -1;
    QTest::newRow("empty component") << "2..1" << "2.0.1" << 0;
    // Time-stamp versions outgrow 32 bits from 2022 on.
    QTest::newRow("64-bit component") << "2.0.2201010000" << "2.0.1610051745" << 1;
    QTest::newRow("beyond 64 bits counts as 0") << "2.0.9223372036854775808" << "2.0.1" << -1;
}

void RulesTest::versionCompare()
{
    QFETCH(QString, candidate);
    QFETCH(QString, current);
    QFETCH(int, result);
    QTest::ignoreMessage(QtInfoMsg, qUtf8Printable("Checking if version " + candidate + " is more recent than " + current));
    QCOMPARE(compareVersions(candidate, current), result);
}

void RulesTest::osRule_data()
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
    QTest::newRow("8") << "8" << "2" << same + "8";
    QTest::newRow("7+") << "7+" << "12345" << newer + "7";
    QTest::newRow("8.1-") << "8.1-" << "0123" << older + "8.1";
    QTest::newRow("padded") << "  10+ " << "45" << newer + "10";
    QTest::newRow("ANY is no short-cut") << "ANY" << "" << same + "any";
    QTest::newRow("doubled suffix") << "7++" << "" << newer + "7+";
    QTest::newRow("win7") << "win7" << "" << same + "win7";
}

void RulesTest::osRule()
{
    QFETCH(QString, rule);
    QFETCH(QString, admits);
    QFETCH(QString, line);
    for (int rank = 0; rank <= 5; ++rank) {
        if (!line.isEmpty())
            QTest::ignoreMessage(QtInfoMsg, qUtf8Printable(line));
        bool asked = false;
        QCOMPARE(isOsCompatible(rule, [rank, &asked] { asked = true; return rank; }), admits.contains(QString::number(rank)));
        QCOMPARE(asked, !line.isEmpty());
    }
}

void RulesTest::packageName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("plain") << "app-2.1.zip" << true;
    QTest::newRow("device-like names") << "console.zip" << true;
    QTest::newRow("port beyond 9") << "com10.zip" << true;
    QTest::newRow("folder part") << "win/orvella-2.1.zip" << false;
    QTest::newRow("drive letter") << "C:app.zip" << false;
    QTest::newRow("line feed") << "app\n.zip" << false;
    QTest::newRow("windows wildcard") << "app*.zip" << false;
    QTest::newRow("device name lower case, space") << "lpt9 .zip" << false;
    for (const char *device : {"COM0.zip", "lpt0", "com\u00b9.zip", "LPT\u00b2", "lpt\u00b3.txt", "CONIN$", "conOut$.log"})
        QTest::newRow(device) << QString::fromUtf8(device) << false;
    QTest::newRow("trailing dot") << "app.zip." << false;
    QTest::newRow("current folder") << "." << false;
    QTest::newRow("parent folder") << ".." << false;
}

void RulesTest::packageName()
{
    QFETCH(QString, name);
    QFETCH(bool, allowed);
    QCOMPARE(isPackageNameAllowed(name), allowed);
}

void RulesTest::rollout_data()
{
    QTest::addColumn<QByteArray>("rollout"); // as updates.json gives it; empty: not at all
    QTest::addColumn<double>("place");       // the install's
    QTest::addColumn<QString>("refusal");    // empty: the install takes the update
    const QString notYet = QStringLiteral("Update 2.1 is being rolled out to %1 percent of computers, not yet to this one.");
    const QString malformed = QStringLiteral("Updates.json reports a malformed rollout.");
    QTest::newRow("place below") << QByteArray("10") << 9.99 << QString();
    QTest::newRow("place at the rollout") << QByteArray("10.00") << 10.0 << notYet.arg("10");
    QTest::newRow("place above a fraction") << QByteArray("5e-1") << 0.7 << notYet.arg("0.5");
    QTest::newRow("0 halts") << QByteArray("0") << 0.0 << notYet.arg("0");
    QTest::newRow("100") << QByteArray("100") << 99.9999999 << QString();
    QTest::newRow("absent") << QByteArray() << 99.9999999 << QString();
    QTest::newRow("above 100") << QByteArray("100.5") << 0.0 << malformed;
    QTest::newRow("negative") << QByteArray("-1") << 0.0 << malformed;
    QTest::newRow("text") << QByteArray("\"10\"") << 0.0 << malformed;
}

void RulesTest::rollout()
{
    QFETCH(QByteArray, rollout);
    QFETCH(double, place);
    QFETCH(QString, refusal);
    const QByteArray manifest = R"({"md5": "abc", "os": "windows", "version": "2.1")"
            + (rollout.isEmpty() ? QByteArray() : ", \"rollout\": " + rollout) + '}';
    if (!refusal.endsWith("malformed rollout."))
        QTest::ignoreMessage(QtInfoMsg, "Checking if version 2.1 is more recent than 2.0");
    if (!refusal.isEmpty())
        QTest::ignoreMessage(QtInfoMsg, qUtf8Printable(refusal));
    QJsonObject offer;
    QCOMPARE(acceptUpdateManifest(manifest, "2.0", false, offer, [] { return 4; }) && isRolledOutTo(offer, place),
             refusal.isEmpty());
}

// Places spread evenly over the installs, and each install's is new for every version.
void RulesTest::rolloutPlace()
{
    int belowTen = 0;
    int moved = 0;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray identity = QByteArray::number(i).rightJustified(16, '0');
        belowTen += ::rolloutPlace(identity, "2.1") < 10;
        moved += qAbs(::rolloutPlace(identity, "2.1") - ::rolloutPlace(identity, "2.2")) > 1;
    }
    QVERIFY2(belowTen > 133 && belowTen < 267, qPrintable(QString::number(belowTen))); // 200, within 5 sigma
    QVERIFY(moved > 1900);
}

void RulesTest::retryAfter_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("until"); // from 2026-12-07T10:00:00.5Z; empty: no wait
    QTest::newRow("seconds") << 503 << QByteArray(" 120") << "2026-12-07T10:02:00Z";
    QTest::newRow("HTTP date") << 429 << QByteArray("Mon, 07 Dec 2026 11:00:00 GMT") << "2026-12-07T11:00:00Z";
    QTest::newRow("date past") << 503 << QByteArray("Sun, 06 Nov 1994 08:49:37 GMT") << QString();
    QTest::newRow("date beyond a day") << 503 << QByteArray("Tue, 08 Dec 2026 11:00:00 GMT") << "2026-12-08T10:00:00Z";
    QTest::newRow("too long a number") << 429 << QByteArray("99999999999999999999999") << "2026-12-08T10:00:00Z";
    QTest::newRow("other status") << 500 << QByteArray("120") << QString();
}

void RulesTest::retryAfter()
{
    QFETCH(int, status);
    QFETCH(QByteArray, header);
    QFETCH(QString, until);
    const QDateTime now = QDateTime::fromString("2026-12-07T10:00:00.500Z", Qt::ISODate);
    QCOMPARE(::retryAfter(status, header, now).toString(Qt::ISODate), until);
}

void RulesTest::signatureFile_data()
{
    // Variants of the signature minisign -S wrote for pinned.json; valid: minisign 0.11 -V
    // takes it, and so must the updater.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("valid");
    const QByteArray file = readFile(SIGNED_FOLDER "/pinned.prehashed.minisig");
    const QByteArrayList written = file.split('\n');
    const QByteArray untrusted = written[0], signature = written[1], trusted = written[2], global = written[3];
    const auto with = [file](const QByteArray &line, const QByteArray &variant) { return QByteArray(file).replace(line, variant); };
    QTest::newRow("one more line feed") << file + '\n' << true;
    QTest::newRow("CR LF, another line") << QByteArray(file).replace("\n", "\r\n") + "\r\n" << true;
    QTest::newRow("anything after the fourth line") << file + QByteArray("more\n\0\xff", 7) << true;
    QTest::newRow("untrusted comment line of 1023 bytes") << with(untrusted, untrusted.leftJustified(1022, 'x')) << true;
    QTest::newRow("untrusted comment line of 1024 bytes") << with(untrusted, untrusted.leftJustified(1023, 'x')) << false;
    QTest::newRow("CR ends the trusted comment") << with(trusted, trusted + "\rmore") << true;
    QTest::newRow("NUL ends the global signature") << with(global, global + QByteArray("\0more", 5)) << true;
    QTest::newRow("bits beyond the last byte") << with(global, global.left(85) + char(global[85] + 1) + "==") << true;
    QTest::newRow("global signature without padding") << with(global, global.chopped(2)) << false;
    QTest::newRow("signature without padding") << with(signature, signature.chopped(1)) << false;
}

void RulesTest::signatureFile()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, valid);
    const QStringList keys{QString::fromLatin1(readFile(TEST_PUBLIC_KEY).split('\n').value(1))};
    QString keyId;
    QByteArray trustedComment;
    QCOMPARE(checkSignature(readFile(SIGNED_FOLDER "/pinned.json"), file, keys, keyId, trustedComment) == SignatureCheck::Valid, valid);
#ifndef Q_OS_WIN
    // wine cannot run minisign, a Linux program.
    QTemporaryDir folder;
    writeFile(folder.filePath("variant.minisig"), file);
    QCOMPARE(QProcess::execute("minisign", {"-V", "-q", "-p", TEST_PUBLIC_KEY, "-m", SIGNED_FOLDER "/pinned.json", "-x",
                                            folder.filePath("variant.minisig")}) == 0, valid);
#endif
}

QTEST_GUILESS_MAIN(RulesTest)
#include "tst_rules.moc"
