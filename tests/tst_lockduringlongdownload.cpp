#include "support/sandbox.h"
#include "support/slowremote.h"

#include <QtTest>

// A download that has run for longer than QLockFile's default stale time of 30
// seconds must still keep a second updater out.
class LockDuringLongDownloadTest : public QObject
{
    Q_OBJECT

private slots:
    void secondInstanceStaysOut();
};

void LockDuringLongDownloadTest::secondInstanceStaysOut()
{
    Sandbox sandbox;
    // About 38 seconds for the package.
    SlowRemote remote(38 * 1024, 1024, 1000);
    QVERIFY(remote.start());
    QProcess owner;
    QElapsedTimer clock;
    clock.start();
    sandbox.start(owner, sandbox.arguments(remote.url()));
    QVERIFY(SlowRemote::waitUntilDownloading(sandbox));

    QTest::qWait(int(qMax<qint64>(0, 32000 - clock.elapsed())));
    QCOMPARE(owner.state(), QProcess::Running);
    const Sandbox::Result second = sandbox.run(sandbox.arguments(remote.url()));
    QCOMPARE(second.exitCode, 0);
    QCOMPARE(sandbox.logBytes().count("Orvella Software Updater Version"), 1);

    QTRY_COMPARE_WITH_TIMEOUT(owner.state(), QProcess::NotRunning, 30000);
    QVERIFY(clock.elapsed() > 35000);
    QCOMPARE(owner.exitCode(), 0);
    QCOMPARE(sandbox.availableFiles(), QStringList{"app.zip"});
    QCOMPARE(sandbox.logBytes().count("Orvella Software Updater Version"), 1);
}

QTEST_GUILESS_MAIN(LockDuringLongDownloadTest)
#include "tst_lockduringlongdownload.moc"
