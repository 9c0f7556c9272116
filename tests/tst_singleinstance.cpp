#include "support/sandbox.h"

#include <QtNetwork>
#include <QtTest>

namespace {
const QByteArray package(1 << 20, 'p');

// Starts an updater downloading from the tests' slow nginx (a megabyte in 2.5 s), and waits until it does.
bool startOwner(const Sandbox &sandbox, QProcess &process, const QByteArray &bytes = package)
{
    sandbox.publish("app.zip", bytes);
    sandbox.start(process, sandbox.arguments(sandbox.remoteUrl("slow")));
    return QTest::qWaitFor([&sandbox] { return sandbox.logBytes().contains("] Downloaded "); }, 20000);
}
}

// One updater at a time: real processes that share one temporary folder.
class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void ownerCarriesOn_data();
    void ownerCarriesOn();
    void killedOwnerIsTakenOverAndShutDown();
};

void SingleInstanceTest::ownerCarriesOn_data()
{
    // Either a second updater with these arguments (LOCAL and REMOTE stand for the owner's), with a temporary
    // folder of its own when it logs, whose output is message (exit code 1 if any); or a client that writes
    // message on the control channel. logged: what the owner (or that second updater) logs.
    QTest::addColumn<bool>("client");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("logged");

    QTest::newRow("help") << false << QStringList{"--help"} << QByteArray() << QByteArray();
    QTest::newRow("invalid paths") << false << QStringList{"--localPath", "/nowhere", "--remotePath", "ftp:"} << QByteArray() << QByteArray();
    QTest::newRow("shutdown among unknown options") << false << QStringList{"--shutdown", "--bogus"}
                                                    << QByteArray("Cannot parse arguments: Unknown option 'bogus'.\n") << QByteArray();
    QTest::newRow("same paths") << false << QStringList{"--localPath", "LOCAL", "--remotePath", "REMOTE"} << QByteArray() << QByteArray();
    QTest::newRow("same paths, other temporary folder") << false << QStringList{"--localPath", "LOCAL", "--remotePath", "REMOTE"}
                                                        << QByteArray() << QByteArray("Another updater is working in LOCAL/updates.\n");
    const QByteArray line = "Received LOCAL SOCKET message: ";
    QTest::newRow("line feed") << true << QStringList() << QByteArray("shutdown\n") << line + "shutdown\n\n";
    QTest::newRow("twice") << true << QStringList() << QByteArray("shutdownshutdown") << line + "shutdownshutdown\n";
    // Read as UTF-8, logged as Latin-1.
    QTest::newRow("UTF-8") << true << QStringList() << QByteArray("arr\xc3\xaat") << line + "arr\xeat\n";
    QTest::newRow("nothing written") << true << QStringList() << QByteArray() << QByteArray("Received LOCAL SOCKET connection\n");
}

void SingleInstanceTest::ownerCarriesOn()
{
    QFETCH(bool, client);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, logged);
    Sandbox sandbox;
    QProcess owner;
    QVERIFY(startOwner(sandbox, owner));

    if (client) {
        QLocalSocket socket;
#ifdef Q_OS_WIN
        socket.connectToServer("ZorvanApplicationUpdater", QIODevice::WriteOnly);
#else
        socket.connectToServer(sandbox.temporaryFolder() + "/ZorvanApplicationUpdater", QIODevice::WriteOnly);
#endif
        QVERIFY(socket.waitForConnected(5000));
        socket.write(message);
        QVERIFY(message.isEmpty() || socket.waitForBytesWritten(5000));
        QTRY_VERIFY(sandbox.logBytes().contains(logged));
        // One message per connection: the owner closes it at once, still downloading, so that nothing
        // can follow. A client of a named pipe under wine is not told of the close.
#ifndef Q_OS_WIN
        QTRY_VERIFY(message.isEmpty() || socket.state() == QLocalSocket::UnconnectedState);
        QVERIFY(!sandbox.logBytes().contains("Verifying downloaded file"));
#endif
        socket.disconnectFromServer();
    } else {
        arguments.replaceInStrings("LOCAL", sandbox.localFolder()).replaceInStrings("REMOTE", sandbox.remoteUrl("slow"));
        QElapsedTimer clock;
        clock.start();
        const Sandbox other;
        const Sandbox::Result second = (logged.isEmpty() ? sandbox : other).run(arguments);
        QVERIFY2(clock.elapsed() < 2900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(second.exitCode, message.isEmpty() ? 0 : 1);
        QCOMPARE(second.output, message);
    }

    QTRY_COMPARE_WITH_TIMEOUT(owner.state(), QProcess::NotRunning, 20000);
    QCOMPARE(owner.exitCode(), 0);
    QCOMPARE(readFile(sandbox.availableFolder() + "/app.zip"), package);
    QCOMPARE(filesBelow(sandbox.updatesFolder()), (QStringList{"available/app.zip", "updater.log", "updates.json"}));
    QCOMPARE(sandbox.logBytes().count("Orvella Software Updater Version"), 1);
    QCOMPARE(sandbox.logBytes().count("Received LOCAL SOCKET connection\n"), client ? 1 : 0);
    if (!client && !logged.isEmpty())
        QCOMPARE(sandbox.logBytes().count(logged.replace("LOCAL", sandbox.localFolder().toUtf8())), 1);
    QCOMPARE(sandbox.logBytes().count("Received LOCAL SOCKET message:"), client && !message.isEmpty() ? 1 : 0);
}

void SingleInstanceTest::killedOwnerIsTakenOverAndShutDown()
{
    // Long enough for a shutdown to find the next owner still downloading, under wine too.
    const QByteArray longer(3 << 20, 'p');
    Sandbox sandbox;
    QProcess owner;
    QVERIFY(startOwner(sandbox, owner, longer));
    owner.kill();
    QVERIFY(owner.waitForFinished(5000));
    // The killed run left its lock behind, but nothing an installer could take.
    QCOMPARE(filesBelow(sandbox.availableFolder()), QStringList());
    QVERIFY(QFileInfo::exists(sandbox.temporaryFolder() + "/ZorvanApplicationUpdater-lock"));

    QFile::remove(sandbox.updatesFolder() + "/updater.log");
    QProcess next;
    QVERIFY(startOwner(sandbox, next, longer));
    QProcess shutdown;
    QElapsedTimer clock;
    clock.start();
    sandbox.start(shutdown, {"--shutdown"});
    QTRY_COMPARE_WITH_TIMEOUT(next.state(), QProcess::NotRunning, 10000);
    QCOMPARE(next.exitStatus(), QProcess::NormalExit);
    QCOMPARE(next.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(shutdown.state(), QProcess::NotRunning, 10000);
    QCOMPARE(shutdown.exitCode(), 0);
    // The client keeps its connection for two seconds after writing, then ends (a loaded
    // machine may take seconds more to start it).
    QVERIFY2(clock.elapsed() >= 1900 && clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
    const QStringList lines = sandbox.logLines();
    QCOMPARE(lines.mid(lines.indexOf("Received LOCAL SOCKET connection")),
             (QStringList{"Received LOCAL SOCKET connection", "Received LOCAL SOCKET message: shutdown"}));
    // Nothing placed; what arrived is kept for the next run to resume.
    QCOMPARE(filesBelow(sandbox.updatesFolder()),
             (QStringList{"cache/package.partial", "cache/package.partial.json", "updater.log", "updates.json"}));
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
