#include "log/filelogsink.h"
#include "support/loopbackhttpserver.h"
#include "support/sandbox.h"
#include "support/updatertestmain.h"
#include "transfer/networktransfer.h"
#include "transfer/progress.h"

#include <QLocalSocket>

Q_DECLARE_METATYPE(HttpAnswer)

namespace {
const QByteArray previous = "the package that was there before";
UpdaterApp *updater()
{
    return static_cast<UpdaterApp *>(QCoreApplication::instance());
}
}

// Downloads of the updater in this process from a loopback server into an updates folder
// whose destination already holds an earlier file, and the log they write to.
class TransferTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setNetworkTransferTimeout(2000); }
    void init();
    void cleanup() { updater()->setLocalPath(QString()); }
    void fatalMessageQuits();
    void progressLine();
    void answers_data();
    void answers();
    void secondDownloadIsRefused();
    void shutdownEndsTransfer();

private:
    QString destination() const { return sandbox->availableFolder() + QLatin1String("/package.bin"); }
    QUrl url() const { return server.url(QStringLiteral("/pc/package.bin")); }
    QString downloading(const QString &to) const { return "Downloading " + url().toString() + " to " + to; }

    QScopedPointer<Sandbox> sandbox;
    LoopbackHttpServer server;
};

void TransferTest::init()
{
    sandbox.reset(new Sandbox);
    QVERIFY(QDir().mkpath(sandbox->updatesFolder() + QLatin1String("/cache")));
    writeFile(destination(), previous);
    updater()->setLocalPath(sandbox->updatesFolder());
    QVERIFY(server.isListening() || server.start());
}

void TransferTest::fatalMessageQuits()
{
    // qFatal would abort the test process after the handler, so call the handler itself.
    QTimer::singleShot(0, updater(), [] { fileLogHandler(QtFatalMsg, QMessageLogContext(), QStringLiteral("boom")); });
    QTimer guard;
    connect(&guard, &QTimer::timeout, updater(), [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(sandbox->logLines(), QStringList{"boom"});
    // Without a local path the messages go where Qt sends them by default.
    updater()->setLocalPath(QString());
    QVERIFY(qInstallMessageHandler(nullptr) != fileLogHandler);
}

void TransferTest::progressLine()
{
    logProgress(29, 100); // the quotient times 100 lies just below 29
    logProgress(3000000000, 4000000000);
    logProgress(700, -1);
    QCOMPARE(sandbox->logBytes(), QByteArray("    [28 %] Downloaded 29 / 100 bytes\n    [75 %] Downloaded 3000000000 / 4000000000 bytes\n"
                                             "    Downloaded 700 bytes\n"));
}

void TransferTest::answers_data()
{
    QTest::addColumn<HttpAnswer>("answer");
    QTest::addColumn<QString>("expectedMd5");
    QTest::addColumn<QStringList>("lines"); // after the "Downloading" line; {url} stands for the URL

    const QByteArray body(3000, 'b');
    const QString digest = QString::fromLatin1(md5Hex(body));
    const QString whole = QStringLiteral("    [100 %] Downloaded 3000 / 3000 bytes");
    const QString verifying = QStringLiteral("    Verifying downloaded file ...");
    QTest::newRow("upper-case digest matches")
            << HttpAnswer::ok(body) << digest.toUpper()
            << QStringList{whole, verifying, "    SUCCESS: MD5 hash of downloaded file is " + digest + ", as expected.",
                           "    Finished downloading 3000 bytes."};
    QTest::newRow("digest differs") << HttpAnswer::ok(body) << digest.left(31)
            << QStringList{whole, verifying, "    FAILURE: MD5 hash of downloaded file was " + digest
                                   + ", which is distinct from the expected " + digest.left(31) + "."};
    QTest::newRow("404") << HttpAnswer{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n", "not here!"} << QString()
                         << QStringList{"    ERROR: (203) Error transferring {url} - server replied: Not Found"};
    QTest::newRow("301 is not followed")
            << HttpAnswer{"HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 5\r\n", "moved"} << QString()
            << QStringList{"    [100 %] Downloaded 5 / 5 bytes", "    ERROR: Server answered with HTTP status 301."};
    // Qt ends a chunked body at its last chunk without an error, whatever length was announced.
    QTest::newRow("short body without a network error")
            << HttpAnswer{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3000\r\n",
                          "3e8\r\n" + body.left(1000) + "\r\n0\r\n\r\n"} << QString()
            << QStringList{"    [33 %] Downloaded 1000 / 3000 bytes", "    ERROR: Received 1000 of 3000 bytes."};
    QTest::newRow("stall") << HttpAnswer{"HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n", body.left(1000), true}
                           << QString() << QStringList{"    ERROR: (5) Operation canceled"};
}

void TransferTest::answers()
{
    QFETCH(HttpAnswer, answer);
    QFETCH(QString, expectedMd5);
    QFETCH(QStringList, lines);
    server.setAnswer(QByteArray(), answer);

    const bool stored = updater()->download(url(), destination(), {expectedMd5});

    QCOMPARE(stored, lines.last().startsWith("    Finished"));
    QCOMPARE(sandbox->logLines(), QStringList{downloading(destination())} + lines.replaceInStrings("{url}", url().toString()));
    QCOMPARE(readFile(destination()), stored ? answer.body : previous);
    QCOMPARE(filesBelow(sandbox->updatesFolder() + "/cache"), QStringList());
    QVERIFY(server.lastRequest().contains("\r\nUser-Agent: orvella-software_updater-2.0.1610051745\r\n"));
}

void TransferTest::secondDownloadIsRefused()
{
    server.setAnswer(QByteArray(), HttpAnswer::ok("manifest"));
    const QString other = sandbox->updatesFolder() + QLatin1String("/other.json");
    bool secondResult = true;
    const auto connection = connect(&server, &LoopbackHttpServer::requestReceived, this, [&] {
        secondResult = updater()->download(url(), other, {});
    });
    QVERIFY(updater()->download(url(), destination(), {}));
    disconnect(connection);
    QVERIFY(!secondResult);
    QCOMPARE(sandbox->logLines(), (QStringList{downloading(destination()), downloading(other),
                                               "    [100 %] Downloaded 8 / 8 bytes", "    Finished downloading 8 bytes."}));
    QVERIFY(!QFile::exists(other));
}

// A shutdown message ends the wait while the server still owes most of the body:
// nothing is stored, the available folder is emptied, and the reply logs nothing more.
void TransferTest::shutdownEndsTransfer()
{
    server.setAnswer(QByteArray(), HttpAnswer{"HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n", "partial", true});
    QLocalSocket control;
    const auto connection = connect(&server, &LoopbackHttpServer::requestReceived, &control, [&control] {
        control.connectToServer(QStringLiteral("ZorvanApplicationUpdater"));
        control.write("shutdown");
    });
    QVERIFY(updater()->download(url(), destination(), {}));
    disconnect(connection);

    const QStringList lines{downloading(destination()), "Received LOCAL SOCKET connection",
                            "Received LOCAL SOCKET message: shutdown"};
    QCOMPARE(sandbox->logLines(), lines);
    // Longer than the transfer timeout: an aborted reply must not time out later.
    QTest::qWait(2500);
    QCOMPARE(sandbox->logLines(), lines);
    QCOMPARE(filesBelow(sandbox->updatesFolder()), QStringList{"updater.log"});

    // The shutdown asked the application to quit, which keeps every event loop from
    // running until the application's own loop has run once.
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
}

UPDATER_TEST_MAIN(TransferTest)
#include "tst_transfer.moc"
