#include "support/sandbox.h"
#include "support/slowremote.h"

#include <QLocalSocket>
#include <QtTest>

// One updater at a time: real processes that share one temporary folder.
class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondInstanceLeavesOwnerAlone_data();
    void secondInstanceLeavesOwnerAlone();
    void shutdownEndsDownload();
    void otherMessagesChangeNothing_data();
    void otherMessagesChangeNothing();
    void killedOwnerIsTakenOver();

private:
    static QString channel(const Sandbox &sandbox)
    {
        return sandbox.temporaryFolder() + QStringLiteral("/ZorvanApplicationUpdater");
    }
    static void expectCompleteUpdate(const Sandbox &sandbox, const SlowRemote &remote);
};

void SingleInstanceTest::expectCompleteUpdate(const Sandbox &sandbox, const SlowRemote &remote)
{
    QCOMPARE(sandbox.availableFiles(), QStringList{"app.zip"});
    QFile stored(sandbox.availableFolder() + "/app.zip");
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QVERIFY(stored.readAll() == remote.package());
    QCOMPARE(sandbox.cacheFiles(), QStringList());
}

void SingleInstanceTest::secondInstanceLeavesOwnerAlone_data()
{
    QTest::addColumn<QStringList>("arguments"); // LOCAL and REMOTE stand for the owner's

    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("help") << QStringList{"--help"};
    QTest::newRow("invalid paths") << QStringList{"--localPath", "/nowhere", "--remotePath", "ftp://127.0.0.1"};
    QTest::newRow("same paths") << QStringList{"--localPath", "LOCAL", "--remotePath", "REMOTE"};
}

void SingleInstanceTest::secondInstanceLeavesOwnerAlone()
{
    QFETCH(QStringList, arguments);
    Sandbox sandbox;
    SlowRemote remote(4096, 512, 100);
    QVERIFY(remote.start());
    QProcess owner;
    sandbox.start(owner, sandbox.arguments(remote.url()));
    QVERIFY(SlowRemote::waitUntilDownloading(sandbox));

    for (QString &argument : arguments)
        argument.replace("LOCAL", sandbox.localFolder()).replace("REMOTE", remote.url());
    QElapsedTimer clock;
    clock.start();
    const Sandbox::Result second = sandbox.run(arguments);
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(second.exitCode, 0);
    QCOMPARE(second.standardError, QByteArray());
    QCOMPARE(second.standardOutput, QByteArray());

    QTRY_COMPARE_WITH_TIMEOUT(owner.state(), QProcess::NotRunning, 20000);
    QCOMPARE(owner.exitCode(), 0);
    QCOMPARE(sandbox.logBytes().count("Orvella Software Updater Version"), 1);
    QVERIFY(!sandbox.logBytes().contains("LOCAL SOCKET"));
    expectCompleteUpdate(sandbox, remote);
}

void SingleInstanceTest::shutdownEndsDownload()
{
    Sandbox sandbox;
    SlowRemote remote(64 * 1024, 256, 50);
    QVERIFY(remote.start());
    QProcess owner;
    sandbox.start(owner, sandbox.arguments(remote.url()));
    QVERIFY(SlowRemote::waitUntilDownloading(sandbox));

    QProcess second;
    QElapsedTimer clock;
    clock.start();
    sandbox.start(second, {"--shutdown"});
    QTRY_COMPARE_WITH_TIMEOUT(owner.state(), QProcess::NotRunning, 10000);
    QCOMPARE(owner.exitStatus(), QProcess::NormalExit);
    QCOMPARE(owner.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(second.exitCode(), 0);
    // The client keeps its connection for two seconds after writing, then ends.
    QVERIFY2(elapsed >= 1900 && elapsed < 4500, qPrintable(QString::number(elapsed)));

    const QStringList lines = sandbox.logLines();
    const int connection = lines.indexOf("Received LOCAL SOCKET connection");
    QVERIFY(connection > 0);
    QCOMPARE(lines.mid(connection), (QStringList{"Received LOCAL SOCKET connection",
                                                 "Received LOCAL SOCKET message: shutdown"}));
    QCOMPARE(sandbox.availableFiles(), QStringList());
    QCOMPARE(sandbox.cacheFiles(), QStringList());
}

void SingleInstanceTest::otherMessagesChangeNothing_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("logged"); // empty: no message line at all

    QTest::newRow("line feed") << QByteArray("shutdown\n") << QByteArray("Received LOCAL SOCKET message: shutdown\n\n");
    QTest::newRow("capital S") << QByteArray("Shutdown") << QByteArray("Received LOCAL SOCKET message: Shutdown\n");
    QTest::newRow("leading space") << QByteArray(" shutdown") << QByteArray("Received LOCAL SOCKET message:  shutdown\n");
    QTest::newRow("twice") << QByteArray("shutdownshutdown") << QByteArray("Received LOCAL SOCKET message: shutdownshutdown\n");
    QTest::newRow("nothing written") << QByteArray() << QByteArray();
}

void SingleInstanceTest::otherMessagesChangeNothing()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, logged);
    Sandbox sandbox;
    SlowRemote remote(4096, 512, 100);
    QVERIFY(remote.start());
    QProcess owner;
    sandbox.start(owner, sandbox.arguments(remote.url()));
    QVERIFY(SlowRemote::waitUntilDownloading(sandbox));

    QLocalSocket client;
    client.connectToServer(channel(sandbox), QIODevice::WriteOnly);
    QVERIFY(client.waitForConnected(5000));
    if (!message.isEmpty()) {
        client.write(message);
        QVERIFY(client.waitForBytesWritten(5000));
        QTRY_VERIFY(sandbox.logBytes().contains(logged));
    } else {
        QTRY_VERIFY(sandbox.logBytes().contains("Received LOCAL SOCKET connection\n"));
    }
    client.disconnectFromServer();

    QTRY_COMPARE_WITH_TIMEOUT(owner.state(), QProcess::NotRunning, 20000);
    QCOMPARE(owner.exitCode(), 0);
    QCOMPARE(sandbox.logBytes().count("Received LOCAL SOCKET connection\n"), 1);
    QCOMPARE(sandbox.logBytes().count("Received LOCAL SOCKET message:"), message.isEmpty() ? 0 : 1);
    expectCompleteUpdate(sandbox, remote);
}

void SingleInstanceTest::killedOwnerIsTakenOver()
{
    Sandbox sandbox;
    SlowRemote remote(64 * 1024, 256, 50);
    QVERIFY(remote.start());
    QProcess owner;
    sandbox.start(owner, sandbox.arguments(remote.url()));
    QVERIFY(SlowRemote::waitUntilDownloading(sandbox));
    owner.kill();
    QVERIFY(owner.waitForFinished(5000));

    // The killed run left its lock behind, but nothing an installer could take.
    QCOMPARE(sandbox.availableFiles(), QStringList());
    QVERIFY(QFileInfo::exists(sandbox.temporaryFolder() + "/ZorvanApplicationUpdater-lock"));

    remote.speedUp();
    QProcess next;
    sandbox.start(next, sandbox.arguments(remote.url()));
    QTRY_COMPARE_WITH_TIMEOUT(next.state(), QProcess::NotRunning, 20000);
    QCOMPARE(next.exitCode(), 0);
    QVERIFY(sandbox.logBytes().contains("    SUCCESS: MD5 hash of downloaded file is " + md5Hex(remote.package())));
    expectCompleteUpdate(sandbox, remote);
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
