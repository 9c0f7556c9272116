#include "support/loopbackhttpserver.h"
#include "support/sandbox.h"
#include "support/testcertificates.h"
#include "support/tinyproxy.h"
#include "support/updatertestmain.h"
#include "transfer/networktransfer.h"
#include "transfer/progress.h"

#include <QHostInfo>
#include <QLocalSocket>
#include <QSslConfiguration>
#include <QStorageInfo>

#include <memory>

Q_DECLARE_METATYPE(HttpAnswer)
Q_DECLARE_METATYPE(ExpectedFile)

namespace {
const QByteArray previous = "the package that was there before";

UpdaterApp *updater()
{
    return static_cast<UpdaterApp *>(QCoreApplication::instance());
}
}

// Downloads of the updater in this process from a loopback server of the test's own
// into a local folder whose destination already holds an earlier file.
class NetworkTransferTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setNetworkTransferTimeout(2000); }
    void init();
    void cleanup();
    void progressLine_data();
    void progressLine();
    void answers_data();
    void answers();
    void slowDrip_data();
    void slowDrip();
    void secondDownloadIsRefused();
    void shutdownEndsTransfer();
    void certificate_data();
    void certificate();

private:
    QString destination() const { return sandbox->availableFolder() + QLatin1String("/package.bin"); }
    QUrl url() const { return server->url(QStringLiteral("/pc/package.bin")); }
    QString downloading(const QString &to) const
    {
        return QStringLiteral("Downloading %1 to %2").arg(url().toString(), to);
    }

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<LoopbackHttpServer> server;
};

void NetworkTransferTest::init()
{
    sandbox = std::make_unique<Sandbox>();
    QVERIFY(QDir().mkpath(sandbox->updatesFolder() + QLatin1String("/cache")));
    writeFile(destination(), previous);
    updater()->setLocalPath(sandbox->updatesFolder());
    server = std::make_unique<LoopbackHttpServer>();
    QVERIFY(server->start());
}

void NetworkTransferTest::cleanup()
{
    updater()->setLocalPath(QString());
    server.reset();
    sandbox.reset();
}

void NetworkTransferTest::progressLine_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QStringList>("lines");

    // The quotient times 100 lies just below 29.
    QTest::newRow("truncated") << qint64(29) << qint64(100) << QStringList{"    [28 %] Downloaded 29 / 100 bytes"};
    QTest::newRow("two thirds") << qint64(2) << qint64(3) << QStringList{"    [66 %] Downloaded 2 / 3 bytes"};
    QTest::newRow("beyond 32 bits") << qint64(3000000000) << qint64(4000000000)
                                    << QStringList{"    [75 %] Downloaded 3000000000 / 4000000000 bytes"};
    QTest::newRow("no total") << qint64(700) << qint64(-1) << QStringList{"    Downloaded 700 bytes"};
    QTest::newRow("nothing yet") << qint64(0) << qint64(-1) << QStringList();
}

void NetworkTransferTest::progressLine()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(QStringList, lines);
    logProgress(received, total);
    QCOMPARE(sandbox->logLines(), lines);
}

void NetworkTransferTest::answers_data()
{
    QTest::addColumn<HttpAnswer>("answer");
    QTest::addColumn<ExpectedFile>("expected");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QStringList>("lines"); // after the "Downloading" line; {url} stands for the URL
    QTest::addColumn<QStringList>("orLines");

    const QByteArray body = testPackage(3000);
    const QString digest = QString::fromLatin1(md5Hex(body));
    const QString wrongDigest(32, QLatin1Char('0'));
    const QString sha256 = QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
    const ExpectedFile none, md5Only{digest, {}, -1}, pinned{digest, sha256, 3000};
    HttpAnswer shortBody = HttpAnswer::ok(body);
    shortBody.bytesToSend = 1000;
    HttpAnswer reset = shortBody;
    reset.ending = HttpAnswer::Reset;
    HttpAnswer stall = shortBody;
    stall.ending = HttpAnswer::Stall;

    const QString whole = QStringLiteral("    [100 %] Downloaded 3000 / 3000 bytes");
    const QString verifying = QStringLiteral("    Verifying downloaded file ...");
    const QString finished = QStringLiteral("    Finished downloading 3000 bytes.");
    QTest::newRow("200 with length") << HttpAnswer::ok(body) << none << true
                                     << QStringList{whole, finished} << QStringList();
    QTest::newRow("200 without length") << HttpAnswer::ok(body, false) << none << true
                                        << QStringList{whole, finished} << QStringList();
    QTest::newRow("200, digest matches")
            << HttpAnswer::ok(body) << ExpectedFile{digest.toUpper(), sha256.toUpper(), 3000} << true
            << QStringList{whole, verifying, "    SUCCESS: MD5 hash of downloaded file is " + digest + ", as expected.",
                           "    SUCCESS: SHA-256 hash of downloaded file is " + sha256 + ", as expected.", finished}
            << QStringList();
    QTest::newRow("200, digest differs")
            << HttpAnswer::ok(body) << ExpectedFile{wrongDigest, {}, -1} << false
            << QStringList{whole, verifying, QStringLiteral("    FAILURE: MD5 hash of downloaded file was %1, which is "
                                                            "distinct from the expected %2.").arg(digest, wrongDigest)}
            << QStringList();
    QTest::newRow("200, SHA-256 differs")
            << HttpAnswer::ok(body) << ExpectedFile{digest, QString(64, QLatin1Char('0')), 3000} << false
            << QStringList{whole, verifying, "    SUCCESS: MD5 hash of downloaded file is " + digest + ", as expected.",
                           "    FAILURE: SHA-256 hash of downloaded file was " + sha256 + ", which is distinct from "
                           "the expected " + QString(64, QLatin1Char('0')) + "."} << QStringList();
    QTest::newRow("length announced differs from size")
            << HttpAnswer::ok(body) << ExpectedFile{digest, sha256, 2999} << false
            << QStringList{"    ERROR: Server announces 3000 bytes, but updates.json announces 2999."} << QStringList();
    QTest::newRow("longer body than size") << HttpAnswer::ok(body, false) << ExpectedFile{digest, sha256, 2999} << false
            << QStringList{"    ERROR: Received more than the 2999 bytes that updates.json announces."} << QStringList();
    QTest::newRow("shorter body than size") << HttpAnswer::ok(body, false) << ExpectedFile{digest, sha256, 3001} << false
            << QStringList{whole, "    ERROR: Received 3000 of 3001 bytes."} << QStringList();
    QTest::newRow("404") << HttpAnswer::status(404, "Not Found", "<html>not here</html>") << none << false
                         << QStringList{"    ERROR: (203) Error transferring {url} - server replied: Not Found"}
                         << QStringList();
    QTest::newRow("500") << HttpAnswer::status(500, "Internal Server Error", "<html>oops</html>") << md5Only << false
                         << QStringList{"    ERROR: (401) Error transferring {url} - server replied: Internal Server Error"}
                         << QStringList();
    QTest::newRow("301 is not followed")
            << HttpAnswer::status(301, "Moved Permanently", "moved", "Location: http://127.0.0.1:1/elsewhere\r\n")
            << none << false
            << QStringList{"    [100 %] Downloaded 5 / 5 bytes", "    ERROR: Server answered with HTTP status 301."}
            << QStringList();
    // Qt 5.15 finishes a reset reply now with an error, now without one.
    QTest::newRow("reset mid-body") << reset << none << false << QStringList{"    ERROR: (2) Connection closed"}
                                    << QStringList{"    [33 %] Downloaded 1000 / 3000 bytes",
                                                   "    ERROR: Received 1000 of 3000 bytes."};
    QTest::newRow("fewer bytes than announced") << shortBody << none << false
                                                << QStringList{"    ERROR: (2) Connection closed"} << QStringList();
    // Qt ends a chunked body at its last chunk without an error, whatever length was announced.
    HttpAnswer chunked;
    chunked.head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3000\r\n";
    chunked.body = "3e8\r\n" + body.left(1000) + "\r\n0\r\n\r\n";
    QTest::newRow("short body without a network error")
            << chunked << none << false
            << QStringList{"    [33 %] Downloaded 1000 / 3000 bytes", "    ERROR: Received 1000 of 3000 bytes."} << QStringList();
    QTest::newRow("larger than the limit") << HttpAnswer::ok(body, false) << ExpectedFile{QString(), QString(), -1, 100}
                                           << false << QStringList{"    ERROR: package.bin is larger than 100 bytes."}
                                           << QStringList();
    HttpAnswer huge = HttpAnswer::ok(body);
    huge.head = "HTTP/1.1 200 OK\r\nContent-Length: 4611686018427387904\r\n";
    QTest::newRow("no room for the announced length")
            << huge << none << false
            << QStringList{"    ERROR: Not enough free disk space: 4611686018427387904 bytes needed, {free} available."}
            << QStringList();
    QTest::newRow("stall") << stall << none << false << QStringList{"    ERROR: (5) Operation canceled"}
                           << QStringList();
}

void NetworkTransferTest::answers()
{
    QFETCH(HttpAnswer, answer);
    QFETCH(ExpectedFile, expected);
    QFETCH(bool, stored);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, orLines);
    server->setAnswer(answer);
    // Wine, for one, cannot tell the free space of the Linux folders it shows.
    if (lines.join('\n').contains("free disk space") && !QStorageInfo(sandbox->updatesFolder()).isValid()) {
        QTest::qSkip("This system does not tell the free disk space", __FILE__, __LINE__);
        return;
    }

    QCOMPARE(updater()->download(url(), destination(), expected), stored);

    lines.replaceInStrings(QStringLiteral("{url}"), url().toString());
    const QStringList logged = withFinalProgressOnly(sandbox->logLines())
            .replaceInStrings(QRegularExpression("\\d+ available\\.$"), "{free} available.");
    if (orLines.isEmpty() || logged != QStringList{downloading(destination())} + orLines)
        QCOMPARE(logged, QStringList{downloading(destination())} + lines);
    QCOMPARE(readFile(destination()), stored ? answer.body : previous);
    QCOMPARE(sandbox->cacheFiles(), QStringList());
    QVERIFY(server->lastRequest().contains("\r\nUser-Agent: orvella-software_updater-2.0.1610051745\r\n"));
}

void NetworkTransferTest::slowDrip_data()
{
    QTest::addColumn<bool>("announceLength");
    QTest::newRow("with length") << true;
    QTest::newRow("without length") << false;
}

// Ten drips over 1.5 s: each comes well within the transfer timeout of 2 s, so the
// transfer goes on, and progress is logged as the bytes arrive.
void NetworkTransferTest::slowDrip()
{
    QFETCH(bool, announceLength);
    HttpAnswer answer = HttpAnswer::ok(testPackage(1000), announceLength);
    answer.dripBytes = 100;
    answer.dripIntervalMs = 150;
    server->setAnswer(answer);

    QVERIFY(updater()->download(url(), destination(), {}));

    QStringList lines = sandbox->logLines();
    QCOMPARE(lines.takeFirst(), downloading(destination()));
    QCOMPARE(lines.takeLast(), QStringLiteral("    Finished downloading 1000 bytes."));
    QCOMPARE(lines.takeLast(), QStringLiteral("    [100 %] Downloaded 1000 / 1000 bytes"));
    QVERIFY2(lines.size() >= 3, qPrintable(lines.join(QLatin1Char('\n'))));
    for (const QString &line : qAsConst(lines)) {
        const int received = line.section(QLatin1String("Downloaded "), 1).section(QLatin1Char(' '), 0, 0).toInt();
        QVERIFY(received > 0 && received % 100 == 0);
        QCOMPARE(line, announceLength ? QStringLiteral("    [%1 %] Downloaded %2 / 1000 bytes").arg(received / 10).arg(received)
                                      : QStringLiteral("    Downloaded %1 bytes").arg(received));
    }
    QCOMPARE(readFile(destination()), answer.body);
}

void NetworkTransferTest::secondDownloadIsRefused()
{
    server->setAnswer(HttpAnswer::ok("manifest"));
    const QString other = sandbox->updatesFolder() + QLatin1String("/other.json");
    bool secondResult = true;
    connect(server.get(), &LoopbackHttpServer::requestReceived, this, [&] {
        secondResult = updater()->download(url(), other, {});
    });

    QVERIFY(updater()->download(url(), destination(), {}));

    QVERIFY(!secondResult);
    QCOMPARE(withFinalProgressOnly(sandbox->logLines()),
             (QStringList{downloading(destination()), downloading(other), "    [100 %] Downloaded 8 / 8 bytes",
                          "    Finished downloading 8 bytes."}));
    QVERIFY(!QFile::exists(other));
}

// A shutdown message ends the wait while the server still owes most of the body:
// nothing is stored, and nothing of the reply reaches the log any more.
void NetworkTransferTest::shutdownEndsTransfer()
{
    HttpAnswer answer = HttpAnswer::ok(testPackage(3000));
    answer.bytesToSend = 1000;
    answer.ending = HttpAnswer::Stall;
    server->setAnswer(answer);
    QLocalSocket control;
    connect(server.get(), &LoopbackHttpServer::requestReceived, &control, [&control] {
        control.connectToServer(QStringLiteral("ZorvanApplicationUpdater"));
        control.write("shutdown");
    });

    QVERIFY(updater()->download(url(), destination(), {}));

    const QStringList lines{downloading(destination()), "Received LOCAL SOCKET connection",
                            "Received LOCAL SOCKET message: shutdown"};
    QCOMPARE(sandbox->logLines(), lines);
    // Longer than the transfer timeout: an aborted reply must not time out later.
    QTest::qWait(2500);
    QCOMPARE(sandbox->logLines(), lines);
    QVERIFY(!QFile::exists(destination()));
    QCOMPARE(sandbox->cacheFiles(), QStringList());

    // The shutdown asked the application to quit, which keeps every event loop from
    // running until the application's own loop has run once.
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
}

void NetworkTransferTest::certificate_data()
{
    QTest::addColumn<bool>("trustCa");
    QTest::addColumn<bool>("proxied");
    QTest::newRow("from an unknown authority") << false << false;
    QTest::newRow("from an authority added to the trusted ones") << true << false;
    // The proxy only tunnels; the certificate checked is still the server's own.
    QTest::newRow("through a proxy, from a trusted authority") << true << true;
}

void NetworkTransferTest::certificate()
{
    QFETCH(bool, trustCa);
    QFETCH(bool, proxied);
#ifdef Q_OS_WIN
    if (proxied)
        QSKIP("Windows takes its proxy from the Internet Options, not from the environment");
#endif
    TestCertificates certificates;
    QVERIFY(certificates.create(sandbox->path()));
    server->useTls(certificates.certificate(), certificates.key());
    server->setAnswer(HttpAnswer::ok("manifest"));

    const QSslConfiguration systemDefault = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = systemDefault;
    trusting.addCaCertificate(certificates.ca());
    // Qt sends nothing for the loopback address through a proxy; the proxy looks up the name.
    QUrl target = url();
    TinyProxy proxy;
    if (proxied) {
        target.setHost(QHostInfo::localHostName());
        QVERIFY(proxy.start());
        qputenv("https_proxy", proxy.url().toLatin1());
    }
    if (trustCa)
        QSslConfiguration::setDefaultConfiguration(trusting);
    const bool result = updater()->download(target, destination(), {});
    qunsetenv("https_proxy");
    QSslConfiguration::setDefaultConfiguration(systemDefault);

    QCOMPARE(result, trustCa);
    QCOMPARE(proxy.log().contains("CONNECT " + target.authority().toLatin1()), proxied);
    QCOMPARE(withFinalProgressOnly(sandbox->logLines()),
             QStringList{QStringLiteral("Downloading %1 to %2").arg(target.toString(), destination())}
                     + (trustCa ? QStringList{"    [100 %] Downloaded 8 / 8 bytes", "    Finished downloading 8 bytes."}
                                : QStringList{"    TLS ERROR: The issuer certificate of a locally looked up certificate could not be found",
                                              "    TLS ERROR: No certificates could be verified",
                                              "    ERROR: (6) SSL handshake failed"}));
    QCOMPARE(readFile(destination()), trustCa ? QByteArray("manifest") : previous);
    QCOMPARE(sandbox->cacheFiles(), QStringList());
}

UPDATER_TEST_MAIN(NetworkTransferTest)
#include "tst_networktransfer.moc"
