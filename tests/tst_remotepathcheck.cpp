#include "support/sandbox.h"

#include <QtTest>

// The remote location is the command-line value followed by "/pc/". A value whose
// server part that suffix would change must be refused, never fetched from.
class RemotePathCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void suffixMustNotNameServer_data();
    void suffixMustNotNameServer();
};

void RemotePathCheckTest::suffixMustNotNameServer_data()
{
    QTest::addColumn<QString>("remote");

    // Each would otherwise fetch from the host "pc" (a share on Windows for file).
    QTest::newRow("http") << "http:/";
    QTest::newRow("https") << "https:/";
    QTest::newRow("file") << "file:/";
}

void RemotePathCheckTest::suffixMustNotNameServer()
{
    QFETCH(QString, remote);
    Sandbox sandbox;
    QVERIFY(sandbox.isValid());

    const Sandbox::Result result = sandbox.run(sandbox.arguments(remote));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(sandbox.logLines(), QStringList{QStringLiteral("Remote path ") + remote
                                             + QStringLiteral(" is not valid")});
}

QTEST_GUILESS_MAIN(RemotePathCheckTest)
#include "tst_remotepathcheck.moc"
