#include "app/updaterapp.h"
#include "log/filelogsink.h"
#include "support/sandbox.h"
#include "transfer/networktransfer.h"
#include "transfer/progress.h"

#include <QtNetwork>
#include <QtTest>

// What the loopback server sends for a request: the head (status line and headers) and the
// body, and then it closes the connection, or stalls: leaves it open, and may trickle: send a
// byte every trickleMs.
struct HttpAnswer
{
    QByteArray head;
    QByteArray body;
    bool stall = false;
    int trickleMs = 0;

    static HttpAnswer ok(const QByteArray &body)
    {
        return {"HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n", body};
    }
};
Q_DECLARE_METATYPE(HttpAnswer)
Q_DECLARE_METATYPE(ExpectedFile)

// An HTTP server on 127.0.0.1 that answers every request as it was told, also in ways no
// real server would; it reads one request per connection.
class LoopbackHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    HttpAnswer answer;
    QByteArray lastRequest; // its head

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QIODevice::readyRead, socket, [this, socket] {
            if (socket->property("answered").toBool() || !socket->peek(1 << 16).contains("\r\n\r\n"))
                return;
            socket->setProperty("answered", true);
            lastRequest = socket->readAll();
            emit requestReceived();
            socket->write(answer.head + "\r\n" + answer.body);
            auto trickle = new QTimer(socket);
            connect(trickle, &QTimer::timeout, socket, [socket] { socket->write("t"); });
            if (answer.trickleMs)
                trickle->start(answer.trickleMs);
            else if (!answer.stall)
                socket->disconnectFromHost();
        });
    }
};

namespace {
const QByteArray previous = "the package that was there before";
UpdaterApp *updater = nullptr; // main's
}

// The updater's downloads in this process, into an updates folder whose destination holds an
// earlier file, the log they write, and the URLs they come from.
class TransferTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setNetworkTransferTimeout(2000), setTransferRateWindow(3000); }
    void init();
    void cleanup() { updater->setLocalPath(QString()); }
    void fatalMessageQuits();
    void progressLine();
    void answers_data();
    void answers();
    void secondDownloadIsRefused();
    void serverAsksToWait();
    void shutdownEndsTransfer_data();
    void shutdownEndsTransfer();
    void remoteUrl_data();
    void remoteUrl();
    // Last: Qt sends a request whose body without a length was refused once more, with the next one.
    void keptPart_data();
    void keptPart();

private:
    QString destination() const { return sandbox->availableFolder() + QLatin1String("/package.bin"); }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/pc/package.bin").arg(server.serverPort())); }

    QScopedPointer<Sandbox> sandbox;
    LoopbackHttpServer server;
};

void TransferTest::init()
{
    sandbox.reset(new Sandbox);
    QVERIFY(QDir().mkpath(sandbox->updatesFolder() + QLatin1String("/cache")));
    writeFile(destination(), previous);
    updater->setLocalPath(sandbox->updatesFolder());
    QVERIFY(server.isListening() || server.listen(QHostAddress::LocalHost));
}

void TransferTest::fatalMessageQuits()
{
    // qFatal would abort the test process after the handler, so call the handler itself.
    QTimer::singleShot(0, updater, [] { fileLogHandler(QtFatalMsg, QMessageLogContext(), QStringLiteral("boom")); });
    QTimer guard;
    connect(&guard, &QTimer::timeout, updater, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(sandbox->logLines(), QStringList{"boom"});
    // Without a local path the messages go where Qt sends them by default.
    updater->setLocalPath(QString());
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
    QTest::addColumn<ExpectedFile>("expected");
    QTest::addColumn<QStringList>("lines"); // after the "Downloading" line; {url} stands for the URL

    const QByteArray body(3000, 'b');
    const QString digest = QString::fromLatin1(md5Hex(body));
    const QString sha256 = sha256Hex(body);
    const QString whole = QStringLiteral("    [100 %] Downloaded 3000 / 3000 bytes");
    const QString verifying = QStringLiteral("    Verifying downloaded file ...");
    const QString md5Matches = "    SUCCESS: MD5 hash of downloaded file is " + digest + ", as expected.";
    QTest::newRow("upper-case digests match") << HttpAnswer::ok(body) << ExpectedFile{digest.toUpper(), sha256.toUpper(), 3000}
            << QStringList{whole, verifying, md5Matches, "    SUCCESS: SHA-256 hash of downloaded file is " + sha256 + ", as expected.",
                           "    Finished downloading 3000 bytes."};
    QTest::newRow("digest differs") << HttpAnswer::ok(body) << ExpectedFile{digest.left(31), {}, -1, -1}
            << QStringList{whole, verifying, "    FAILURE: MD5 hash of downloaded file was " + digest
                                   + ", which is distinct from the expected " + digest.left(31) + "."};
    QTest::newRow("SHA-256 differs") << HttpAnswer::ok(body) << ExpectedFile{digest, sha256.left(63) + 'x', 3000}
            << QStringList{whole, verifying, md5Matches, "    FAILURE: SHA-256 hash of downloaded file was " + sha256
                                   + ", which is distinct from the expected " + sha256.left(63) + "x."};
    QTest::newRow("announced length differs from size") << HttpAnswer::ok(body) << ExpectedFile{digest, sha256, 2999}
            << QStringList{"    ERROR: Server announces 3000 bytes, but updates.json announces 2999."};
    HttpAnswer unannounced = HttpAnswer::ok(body);
    unannounced.head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    const QString longer = QStringLiteral("    ERROR: Received more than the 2999 bytes that updates.json announces.");
    const QString shorter = QStringLiteral("    ERROR: Received 3000 of 3001 bytes.");
    QTest::newRow("longer body than size") << unannounced << ExpectedFile{digest, sha256, 2999} << QStringList{longer};
    QTest::newRow("shorter body than size") << unannounced << ExpectedFile{digest, sha256, 3001} << QStringList{whole, shorter};
    // An answer without a head stands for its body in a file, copied through a file URL.
    QTest::newRow("copy, longer than size") << HttpAnswer{{}, body} << ExpectedFile{digest, sha256, 2999} << QStringList{longer};
    QTest::newRow("copy, shorter than size") << HttpAnswer{{}, body} << ExpectedFile{digest, sha256, 3001} << QStringList{shorter};
    QTest::newRow("larger than the limit") << unannounced << ExpectedFile{{}, {}, -1, 100}
            << QStringList{"    ERROR: package.bin is larger than 100 bytes."};
    const QString noRoom = QStringLiteral("    ERROR: Not enough free disk space: 4611686018427387904 bytes needed, {free} available.");
    QTest::newRow("no room for the announced length")
            << HttpAnswer{"HTTP/1.1 200 OK\r\nContent-Length: 4611686018427387904\r\n", {}, true} << ExpectedFile() << QStringList{noRoom};
    QTest::newRow("copy, no room for the stated size") << HttpAnswer{{}, body} << ExpectedFile{{}, {}, qint64(1) << 62} << QStringList{noRoom};
    QTest::newRow("404") << HttpAnswer{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n", "not here!"} << ExpectedFile()
                         << QStringList{"    ERROR: (203) Error transferring {url} - server replied: Not Found"};
    QTest::newRow("301 is not followed") << HttpAnswer{"HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 5\r\n", "moved"}
            << ExpectedFile() << QStringList{"    ERROR: Server answered with HTTP status 301."};
    // Qt ends a chunked body at its last chunk without an error, whatever length was announced.
    QTest::newRow("short body without a network error")
            << HttpAnswer{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3000\r\n",
                          "3e8\r\n" + body.left(1000) + "\r\n0\r\n\r\n"} << ExpectedFile()
            << QStringList{"    [33 %] Downloaded 1000 / 3000 bytes", "    ERROR: Received 1000 of 3000 bytes."};
    // No body: Qt reports the progress of early bytes or not, depending on when they come.
    QTest::newRow("stall") << HttpAnswer{"HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n", {}, true}
                           << ExpectedFile() << QStringList{"    ERROR: (5) Operation canceled"};
    // Bytes 1.2 and 2.4 seconds in: each keeps the stall limit from running out.
    QTest::newRow("trickle") << HttpAnswer{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", {}, true, 1200} << ExpectedFile()
                             << QStringList{"    [40 %] Downloaded 2 / 5 bytes",
                                            "    ERROR: Transfer slower than 1024 bytes per second for 3 seconds."};
    // Qt would decode it past every bound on its length.
    QTest::newRow("gzip") << HttpAnswer{"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 25\r\n",
                                        QByteArray::fromHex("1f8b0800000000000203cb48cdc9c9070086a6103605000000")}
                          << ExpectedFile() << QStringList{"    ERROR: Server sent package.bin with Content-Encoding gzip."};
}

void TransferTest::answers()
{
    QFETCH(HttpAnswer, answer);
    QFETCH(ExpectedFile, expected);
    QFETCH(QStringList, lines);
    server.answer = answer;
    sandbox->putRemote("package.bin", answer.body);
    const QUrl source = answer.head.isEmpty() ? QUrl::fromLocalFile(sandbox->remoteFolder() + "/pc/package.bin") : url();
    // Wine, for one, cannot tell the free space of the Linux folders it shows.
    if (lines.last().contains("free disk space") && QStorageInfo(sandbox->updatesFolder() + "/cache").bytesAvailable() < 0)
        QSKIP("This system does not tell the free disk space");

    const bool stored = updater->download(source, destination(), expected);

    QCOMPARE(stored, lines.last().startsWith("    Finished"));
    QCOMPARE(sandbox->logLines().replaceInStrings(QRegularExpression("\\d+ available\\.$"), "{free} available."),
             QStringList{"Downloading " + source.toString() + " to " + destination()} + lines.replaceInStrings("{url}", url().toString()));
    QCOMPARE(readFile(destination()), stored ? answer.body : previous);
    QCOMPARE(filesBelow(sandbox->updatesFolder() + "/cache"), QStringList());
    QVERIFY(server.lastRequest.contains("\r\nUser-Agent: orvella-software_updater-2.0.1610051745\r\n"));
    QVERIFY(answer.head.isEmpty() || server.lastRequest.contains("\r\nAccept-Encoding: identity\r\n"));
}

void TransferTest::keptPart_data()
{
    QTest::addColumn<QByteArray>("kept"); // in package.partial, recorded for the package; none when empty
    QTest::addColumn<bool>("otherPackage"); // recorded for another one instead
    QTest::addColumn<HttpAnswer>("answer"); // none: the server must not be asked
    QTest::addColumn<ExpectedFile>("expected");
    QTest::addColumn<QStringList>("lines"); // without progress lines and digests that match
    QTest::addColumn<bool>("keptAfter"); // unchanged, and its record too; else gone

    const auto pinned = [](const QByteArray &package) {
        return ExpectedFile{QString::fromLatin1(md5Hex(package)), sha256Hex(package), package.size()};
    };
    // The volume holds the rest beside the kept part, not the whole package.
    const QByteArray twice(200000, 't');
    QTest::newRow("200 answering a resume") << twice.left(100000) << false << HttpAnswer::ok("Sign in first.") << pinned(twice)
            << QStringList{"    Resuming at 100000 bytes.", "    ERROR: Server announces 14 bytes, but updates.json announces 200000."} << true;
    const QByteArray package(150000, 'p');
    const QStringList placed{"    Finished downloading 150000 bytes."};
    QTest::newRow("whole part") << package << false << HttpAnswer() << pinned(package) << placed << false;
    QTest::newRow("room once another package's part is gone") << package << true << HttpAnswer::ok(package) << pinned(package) << placed << false;
    const QByteArray large(400000, 'l');
    QTest::newRow("full disk") << large.left(1000) << false
            << HttpAnswer{"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 1000-399999/400000\r\n", large.mid(1000)}
            << ExpectedFile{md5Hex(large), {}, -1, -1} << QStringList{"    Resuming at 1000 bytes.", "    ERROR: Could not write package.bin: {reason}."} << false;
}

// What the cache folder keeps of a package meets the server's answer, or none, on a volume of
// 256 KiB.
void TransferTest::keptPart()
{
    QFETCH(QByteArray, kept);
    QFETCH(bool, otherPackage);
    QFETCH(HttpAnswer, answer);
    QFETCH(ExpectedFile, expected);
    QFETCH(QStringList, lines);
    QFETCH(bool, keptAfter);
    const QString volume = testServer("small-volume");
    if (volume.isEmpty())
        QSKIP("The tests' servers mount a small volume only as root");
    sandbox.reset(new Sandbox(volume)); // under wine on the current drive, Z:, the Linux root
    QVERIFY(QDir().mkpath(sandbox->updatesFolder() + "/cache") && QDir().mkpath(sandbox->availableFolder()));
    updater->setLocalPath(sandbox->updatesFolder());
    const QString part = sandbox->updatesFolder() + "/cache/package.partial";
    writeFile(part, kept);
    const QByteArray record = QJsonDocument(QJsonObject{{"url", url().toString() + (otherPackage ? ".old" : "")}, {"md5", expected.md5},
                                                        {"sha256", expected.sha256}, {"size", expected.size}, {"validator", "\"v1\""}}).toJson();
    writeFile(part + ".json", record);
    server.answer = answer;
    server.lastRequest.clear();

    const bool stored = updater->download(url(), destination(), expected);

    QStringList logged = sandbox->logLines().mid(1).filter(QRegularExpression("^(?!    (\\[|Downloaded|Verifying|SUCCESS))"));
    QCOMPARE(logged.replaceInStrings(QRegularExpression("(write package.bin: ).+\\.$"), "\\1{reason}."), lines);
    QCOMPARE(stored, lines.last().startsWith("    Finished"));
    QCOMPARE(server.lastRequest.isEmpty(), answer.head.isEmpty());
    QCOMPARE(readFile(part) + readFile(part + ".json"), keptAfter ? kept + record : QByteArray());
    QCOMPARE(filesBelow(sandbox->updatesFolder() + "/cache").size(), keptAfter ? 2 : 0);
}

void TransferTest::secondDownloadIsRefused()
{
    server.answer = HttpAnswer::ok("manifest");
    const QString other = sandbox->updatesFolder() + QLatin1String("/other.json");
    bool secondResult = true;
    const auto connection = connect(&server, &LoopbackHttpServer::requestReceived, this, [&] {
        secondResult = updater->download(url(), other, {});
    });
    QVERIFY(updater->download(url(), destination(), {}));
    disconnect(connection);
    QVERIFY(!secondResult);
    QCOMPARE(sandbox->logLines().mid(2), (QStringList{"    [100 %] Downloaded 8 / 8 bytes", "    Finished downloading 8 bytes."}));
    QVERIFY(!QFile::exists(other));
}

// Whole runs: a server that answers 503 with Retry-After is asked nothing until then, and
// the run goes on with the next remote path; a later run too, without a request.
void TransferTest::serverAsksToWait()
{
    server.answer = HttpAnswer{"HTTP/1.1 503 Service Unavailable\r\nRetry-After: 120\r\nContent-Length: 4\r\n", "busy"};
    QFile::remove(destination());
    sandbox->putRemote("updates.json", R"({"md5": "abc", "os": "windows", "version": "2"})");
    const QString busy = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
    QSignalSpy requests(&server, &LoopbackHttpServer::requestReceived);
    const QDateTime answered = QDateTime::currentDateTimeUtc();
    for (int run = 0; run < 2; ++run) {
        QProcess process;
        sandbox->start(process, {"--localPath", sandbox->localFolder(), "--remotePath", busy, "--remotePath", sandbox->remoteUrl()});
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 30000);
        QCOMPARE(process.exitCode(), 0);
    }
    QCOMPARE(requests.count(), 1);
    const QString waitLine = sandbox->logLines().filter("Server asks to wait until ").value(0);
    const QDateTime until = QDateTime::fromString(waitLine.section(' ', -1).chopped(1), Qt::ISODate);
    // 120 s after the answer, which came between these two times, however long the runs took.
    QVERIFY2(until >= answered.addSecs(119) && until <= QDateTime::currentDateTimeUtc().addSecs(121), qPrintable(waitLine));
    const QStringList next{"Trying next remote path " + sandbox->remoteUrl() + "/pc/",
                           "Downloading " + sandbox->remoteUrl() + "/pc/updates.json to " + sandbox->updatesFolder() + "/updates.json",
                           "    Finished downloading 47 bytes.", "Checking if version 2 is more recent than 2.0.1610051745"};
    const QStringList banner{"Orvella Software Updater Version 2.0.1610051745.", "  Using local path at " + sandbox->updatesFolder(),
                             "  Using remote path at " + busy + "/pc/", "  Using remote path at " + sandbox->remoteUrl() + "/pc/",
                             "Checking for downloaded updates in " + sandbox->availableFolder(), "No update was already downloaded."};
    const QStringList asked{"Downloading " + busy + "/pc/updates.json to " + sandbox->updatesFolder() + "/updates.json",
                            "    ERROR: (403) Error transferring " + busy + "/pc/updates.json - server replied: Service Unavailable",
                            waitLine, "Could not open updates.json for reading"};
    const QStringList skipped{"Server asked to wait until " + until.toString(Qt::ISODate) + "; not checking before then."};
    QCOMPARE(sandbox->logLines(), banner + asked + next + banner + skipped + next);
}

void TransferTest::shutdownEndsTransfer_data()
{
    QTest::addColumn<bool>("copy"); // of a large file through a file URL; else a download that stalls
    QTest::newRow("download") << false;
    QTest::newRow("copy") << true;
}

// A shutdown message ends the wait for a body that the server still owes, or the copy of a
// large file: nothing is stored, the available folder is emptied, nothing more is logged.
void TransferTest::shutdownEndsTransfer()
{
    QFETCH(bool, copy);
    // No body, whose progress Qt may report before the shutdown arrives.
    server.answer = HttpAnswer{"HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n", {}, true};
    sandbox->putRemote("package.bin", QByteArray(copy ? 64 << 20 : 0, 'p'));
    const QUrl source = copy ? QUrl::fromLocalFile(sandbox->remoteFolder() + "/pc/package.bin") : url();
    QLocalSocket control;
    const auto sendShutdown = [&control] {
        control.connectToServer(QStringLiteral("ZorvanApplicationUpdater"));
        control.write("shutdown");
        control.flush();
    };
    if (copy)
        sendShutdown();
    const auto connection = connect(&server, &LoopbackHttpServer::requestReceived, &control, sendShutdown);
    QVERIFY(updater->download(source, destination(), {}));
    disconnect(connection);

    const QStringList lines{"Downloading " + source.toString() + " to " + destination(), "Received LOCAL SOCKET connection",
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

void TransferTest::remoteUrl_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("url"); // fully encoded
    const QString low(QChar(0xdc00)); // from a manifest's "\udc00"
    QTest::newRow("base with slash") << "https://host/base/" << "updates.json" << "https://host/base/pc/updates.json";
    QTest::newRow("leading slash in name") << "http://host:8080" << "//app.zip" << "http://host:8080/pc/app.zip";
    QTest::newRow("percent stays literal") << "file:///C:/x" << "100%-%41.zip" << "file:///C:/x/pc/100%25-%2541.zip";
    QTest::newRow("lone surrogate") << "https://host/base" << "pkg//app" + low << "https://host/base/pc/pkg/app%ED%B0%80";
}

void TransferTest::remoteUrl()
{
    QFETCH(QString, remote);
    QFETCH(QString, name);
    QFETCH(QString, url);
    updater->setRemotePath(remote + "/pc/");
    QCOMPARE(updater->resolveRemoteUrl(name).toString(QUrl::FullyEncoded), url);
}

// With the updater's own application object, which the code under test reaches through
// QCoreApplication::instance().
int main(int argc, char *argv[])
{
    UpdaterApp app(argc, argv);
    updater = &app;
    TransferTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_transfer.moc"
