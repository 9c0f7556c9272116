#include "support/sandbox.h"
#include "support/slowremote.h"

#include <QLocalSocket>
#include <QtTest>

#include <memory>

// One updater at a time: real processes that share one temporary folder.
class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { sandbox = std::make_unique<Sandbox>(); }
    void cleanup();
    void secondInstanceLeavesOwnerAlone_data();
    void secondInstanceLeavesOwnerAlone();
    void shutdownEndsDownload();
    void otherMessagesChangeNothing_data();
    void otherMessagesChangeNothing();
    void killedOwnerIsTakenOver();

private:
    // Starts the owner against a remote whose package drips in, and waits until it downloads.
    bool startOwner(int packageSize, int dripBytes, int dripIntervalMs);
    void expectCompleteUpdate(QProcess &process);

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<SlowRemote> remote;
    QProcess owner;
};

void SingleInstanceTest::cleanup()
{
    owner.kill();
    owner.waitForFinished();
    remote.reset();
    sandbox.reset();
}

bool SingleInstanceTest::startOwner(int packageSize, int dripBytes, int dripIntervalMs)
{
    remote = std::make_unique<SlowRemote>(packageSize, dripBytes, dripIntervalMs);
    if (!remote->start())
        return false;
    sandbox->start(owner, sandbox->arguments(remote->url()));
    return SlowRemote::waitUntilDownloading(*sandbox);
}

void SingleInstanceTest::expectCompleteUpdate(QProcess &process)
{
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 20000);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(sandbox->availableFiles(), QStringList{"app.zip"});
    QVERIFY(readFile(sandbox->availableFolder() + "/app.zip") == remote->package());
    QCOMPARE(sandbox->cacheFiles(), QStringList());
}

void SingleInstanceTest::secondInstanceLeavesOwnerAlone_data()
{
    QTest::addColumn<QStringList>("arguments"); // LOCAL and REMOTE stand for the owner's
    QTest::addColumn<bool>("otherTemporaryFolder"); // as for another user's updater

    QTest::newRow("no arguments") << QStringList() << false;
    QTest::newRow("help") << QStringList{"--help"} << false;
    QTest::newRow("invalid paths") << QStringList{"--localPath", "/nowhere", "--remotePath", "ftp://127.0.0.1"} << false;
    QTest::newRow("same paths") << QStringList{"--localPath", "LOCAL", "--remotePath", "REMOTE"} << false;
    QTest::newRow("same paths, other temporary folder") << QStringList{"--localPath", "LOCAL", "--remotePath", "REMOTE"}
                                                        << true;
}

void SingleInstanceTest::secondInstanceLeavesOwnerAlone()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, otherTemporaryFolder);
    QVERIFY(startOwner(4096, 512, 100));

    arguments.replaceInStrings("LOCAL", sandbox->localFolder()).replaceInStrings("REMOTE", remote->url());
    QElapsedTimer clock;
    clock.start();
    const Sandbox other;
    const Sandbox::Result second = (otherTemporaryFolder ? other : *sandbox).run(arguments);
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(second.exitCode, 0);
    QCOMPARE(second.standardError + second.standardOutput, QByteArray());

    expectCompleteUpdate(owner);
    QCOMPARE(sandbox->logBytes().count("Orvella Software Updater Version"), 1);
    QVERIFY(!sandbox->logBytes().contains("LOCAL SOCKET"));
    QCOMPARE(sandbox->logBytes().count("Another updater is working in " + sandbox->updatesFolder().toUtf8() + ".\n"),
             int(otherTemporaryFolder));
}

void SingleInstanceTest::shutdownEndsDownload()
{
    QVERIFY(startOwner(64 * 1024, 256, 50));
    QProcess second;
    QElapsedTimer clock;
    clock.start();
    sandbox->start(second, {"--shutdown"});
    QTRY_COMPARE_WITH_TIMEOUT(owner.state(), QProcess::NotRunning, 10000);
    QCOMPARE(owner.exitStatus(), QProcess::NormalExit);
    QCOMPARE(owner.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(second.exitCode(), 0);
    // The client keeps its connection for two seconds after writing, then ends.
    QVERIFY2(elapsed >= 1900 && elapsed < 4500, qPrintable(QString::number(elapsed)));

    const QStringList lines = sandbox->logLines();
    const int connection = lines.indexOf("Received LOCAL SOCKET connection");
    QVERIFY(connection > 0);
    QCOMPARE(lines.mid(connection), (QStringList{"Received LOCAL SOCKET connection",
                                                 "Received LOCAL SOCKET message: shutdown"}));
    QCOMPARE(sandbox->availableFiles(), QStringList());
    QCOMPARE(sandbox->cacheFiles(), QStringList());
}

void SingleInstanceTest::otherMessagesChangeNothing_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("logged"); // empty: no message line at all

    QTest::newRow("line feed") << QByteArray("shutdown\n") << QByteArray("Received LOCAL SOCKET message: shutdown\n\n");
    QTest::newRow("capital S") << QByteArray("Shutdown") << QByteArray("Received LOCAL SOCKET message: Shutdown\n");
    QTest::newRow("leading space") << QByteArray(" shutdown") << QByteArray("Received LOCAL SOCKET message:  shutdown\n");
    QTest::newRow("twice") << QByteArray("shutdownshutdown") << QByteArray("Received LOCAL SOCKET message: shutdownshutdown\n");
    QTest::newRow("nothing written") << QByteArray() << QByteArray("Received LOCAL SOCKET connection\n");
}

void SingleInstanceTest::otherMessagesChangeNothing()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, logged);
    QVERIFY(startOwner(4096, 512, 100));

    QLocalSocket client;
#ifdef Q_OS_WIN
    client.connectToServer("ZorvanApplicationUpdater", QIODevice::WriteOnly);
#else
    client.connectToServer(sandbox->temporaryFolder() + "/ZorvanApplicationUpdater", QIODevice::WriteOnly);
#endif
    QVERIFY(client.waitForConnected(5000));
    client.write(message);
    QVERIFY(message.isEmpty() || client.waitForBytesWritten(5000));
    QTRY_VERIFY(sandbox->logBytes().contains(logged));
    // Whatever the client sends after its one message must not pile up in the owner:
    // the owner closes the connection. A client of a named pipe under wine is not told.
#ifndef Q_OS_WIN
    QTRY_VERIFY(message.isEmpty() || client.state() == QLocalSocket::UnconnectedState);
#endif
    client.disconnectFromServer();

    expectCompleteUpdate(owner);
    QCOMPARE(sandbox->logBytes().count("Received LOCAL SOCKET connection\n"), 1);
    QCOMPARE(sandbox->logBytes().count("Received LOCAL SOCKET message:"), message.isEmpty() ? 0 : 1);
}

void SingleInstanceTest::killedOwnerIsTakenOver()
{
    QVERIFY(startOwner(64 * 1024, 256, 50));
    owner.kill();
    QVERIFY(owner.waitForFinished(5000));

    // The killed run left its lock behind, but nothing an installer could take.
    QCOMPARE(sandbox->availableFiles(), QStringList());
    QVERIFY(QFileInfo::exists(sandbox->temporaryFolder() + "/ZorvanApplicationUpdater-lock"));

    remote->speedUp();
    QProcess next;
    sandbox->start(next, sandbox->arguments(remote->url()));
    expectCompleteUpdate(next);
    QVERIFY(sandbox->logBytes().contains("    SUCCESS: MD5 hash of downloaded file is " + md5Hex(remote->package())));
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
