#include "support/loopbackhttpserver.h"
#include "support/testcertificates.h"
#include "support/updatertestmain.h"
#include "transfer/networktransfer.h"
#include "transfer/progress.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSslConfiguration>
#include <QTemporaryDir>

#include <memory>

Q_DECLARE_METATYPE(HttpAnswer)

namespace {

const QByteArray previousContents = "the package that was there before";

UpdaterApp *updater()
{
    return static_cast<UpdaterApp *>(QCoreApplication::instance());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isProgressLine(const QString &line)
{
    return line.startsWith(QLatin1String("    [")) || line.startsWith(QLatin1String("    Downloaded "));
}

// Qt reports the last progress a second time as the reply finishes when that comes
// late enough after the previous report; the repeat says nothing new.
QStringList withoutRepeatedProgress(const QStringList &lines)
{
    QStringList result;
    for (const QString &line : lines) {
        if (!(isProgressLine(line) && !result.isEmpty() && result.last() == line))
            result << line;
    }
    return result;
}

QByteArray package(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + i % 26);
    return bytes;
}

}

class NetworkTransferTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
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
    QString destination() const { return folder->filePath(QStringLiteral("updates/available/package.bin")); }
    QStringList logLines() const;
    QStringList cacheFiles() const;

    std::unique_ptr<QTemporaryDir> folder;
};

void NetworkTransferTest::initTestCase()
{
    setNetworkTransferTimeout(2000);
}

void NetworkTransferTest::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    QVERIFY(QDir().mkpath(folder->filePath(QStringLiteral("updates/available"))));
    QVERIFY(QDir().mkpath(folder->filePath(QStringLiteral("updates/cache"))));
    updater()->setLocalPath(folder->filePath(QStringLiteral("updates")));
    QFile old(destination());
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(previousContents);
}

void NetworkTransferTest::cleanup()
{
    updater()->setLocalPath(QString());
    folder.reset();
}

QStringList NetworkTransferTest::logLines() const
{
    return QString::fromLatin1(readFile(folder->filePath(QStringLiteral("updates/updater.log"))))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList NetworkTransferTest::cacheFiles() const
{
    return QDir(folder->filePath(QStringLiteral("updates/cache")))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

void NetworkTransferTest::progressLine_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("quarter") << qint64(512) << qint64(2048)
                             << QStringList{QStringLiteral("    [25 %] Downloaded 512 / 2048 bytes")};
    // The quotient times 100 lies just below 29.
    QTest::newRow("truncated") << qint64(29) << qint64(100)
                               << QStringList{QStringLiteral("    [28 %] Downloaded 29 / 100 bytes")};
    QTest::newRow("two thirds") << qint64(2) << qint64(3)
                                << QStringList{QStringLiteral("    [66 %] Downloaded 2 / 3 bytes")};
    QTest::newRow("beyond 32 bits") << qint64(3000000000) << qint64(4000000000)
                                    << QStringList{QStringLiteral("    [75 %] Downloaded 3000000000 / 4000000000 bytes")};
    QTest::newRow("no total") << qint64(700) << qint64(-1)
                              << QStringList{QStringLiteral("    Downloaded 700 bytes")};
    QTest::newRow("nothing yet") << qint64(0) << qint64(-1) << QStringList();
}

void NetworkTransferTest::progressLine()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(QStringList, lines);
    logProgress(received, total);
    QCOMPARE(logLines(), lines);
}

void NetworkTransferTest::answers_data()
{
    QTest::addColumn<HttpAnswer>("answer");
    QTest::addColumn<QString>("expectedMd5");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("orLines");

    const QByteArray body = package(3000);
    const QString digest = QString::fromLatin1(
            QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex());
    const QString wrongDigest(32, QLatin1Char('0'));
    HttpAnswer shortBody = HttpAnswer::ok(body);
    shortBody.bytesToSend = 1000;
    HttpAnswer reset = shortBody;
    reset.ending = HttpAnswer::Reset;
    HttpAnswer stall = shortBody;
    stall.ending = HttpAnswer::Stall;

    const QString whole = QStringLiteral("    [100 %] Downloaded 3000 / 3000 bytes");
    const QString finished = QStringLiteral("    Finished downloading 3000 bytes.");
    QTest::newRow("200 with length") << HttpAnswer::ok(body) << QString() << true << body
                                     << QStringList{whole, finished} << QStringList();
    QTest::newRow("200 without length") << HttpAnswer::ok(body, false) << QString() << true << body
                                        << QStringList{whole, finished} << QStringList();
    QTest::newRow("200, digest matches")
            << HttpAnswer::ok(body) << digest.toUpper() << true << body
            << QStringList{whole, QStringLiteral("    Verifying downloaded file ..."),
                           QStringLiteral("    SUCCESS: MD5 hash of downloaded file is %1, as expected.").arg(digest),
                           finished} << QStringList();
    QTest::newRow("200, digest differs")
            << HttpAnswer::ok(body) << wrongDigest << false << previousContents
            << QStringList{whole, QStringLiteral("    Verifying downloaded file ..."),
                           QStringLiteral("    FAILURE: MD5 hash of downloaded file was %1, which is distinct from the expected %2.")
                                   .arg(digest, wrongDigest)} << QStringList();
    QTest::newRow("404") << HttpAnswer::status(404, "Not Found", "<html>not here</html>")
                         << QString() << false << previousContents
                         << QStringList{QStringLiteral("    ERROR: (203) Error transferring {url} - server replied: Not Found")} << QStringList();
    QTest::newRow("500") << HttpAnswer::status(500, "Internal Server Error", "<html>oops</html>")
                         << digest << false << previousContents
                         << QStringList{QStringLiteral("    ERROR: (401) Error transferring {url} - server replied: Internal Server Error")} << QStringList();
    QTest::newRow("301 is not followed")
            << HttpAnswer::status(301, "Moved Permanently", "moved",
                                  "Location: http://127.0.0.1:1/elsewhere\r\n")
            << QString() << false << previousContents
            << QStringList{QStringLiteral("    [100 %] Downloaded 5 / 5 bytes"),
                           QStringLiteral("    ERROR: Server answered with HTTP status 301.")} << QStringList();
    QTest::newRow("reset mid-body") << reset << QString() << false << previousContents
                                    << QStringList{QStringLiteral("    ERROR: (2) Connection closed")}
            // Qt 5.15 finishes a reset reply now with an error, now without one.
            << QStringList{QStringLiteral("    [33 %] Downloaded 1000 / 3000 bytes"),
                           QStringLiteral("    ERROR: Received 1000 of 3000 bytes.")};
    QTest::newRow("fewer bytes than announced") << shortBody << QString() << false << previousContents
                                                << QStringList{QStringLiteral("    ERROR: (2) Connection closed")} << QStringList();
    QTest::newRow("stall") << stall << QString() << false << previousContents
                           << QStringList{QStringLiteral("    ERROR: (5) Operation canceled")} << QStringList();
}

void NetworkTransferTest::answers()
{
    QFETCH(HttpAnswer, answer);
    QFETCH(QString, expectedMd5);
    QFETCH(bool, result);
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, orLines);

    LoopbackHttpServer server;
    QVERIFY(server.start());
    server.setAnswer(answer);
    const QUrl url = server.url(QStringLiteral("/pc/package.bin"));

    QCOMPARE(updater()->download(url, destination(), expectedMd5), result);

    const QString start = QStringLiteral("Downloading %1 to %2").arg(url.toString(), destination());
    lines.replaceInStrings(QStringLiteral("{url}"), url.toString());
    lines.prepend(start);
    orLines.prepend(start);
    const QStringList logged = withoutRepeatedProgress(logLines());
    if (logged != orLines)
        QCOMPARE(logged, lines);
    QCOMPARE(readFile(destination()), stored);
    QCOMPARE(cacheFiles(), QStringList());
    QVERIFY(server.lastRequest().contains("\r\nUser-Agent: orvella-software_updater-2.0.1610051745\r\n"));
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

    const QByteArray body = package(1000);
    HttpAnswer answer = HttpAnswer::ok(body, announceLength);
    answer.dripBytes = 100;
    answer.dripIntervalMs = 150;
    LoopbackHttpServer server;
    QVERIFY(server.start());
    server.setAnswer(answer);
    const QUrl url = server.url(QStringLiteral("/pc/package.bin"));

    QVERIFY(updater()->download(url, destination(), QString()));

    QStringList lines = withoutRepeatedProgress(logLines());
    QCOMPARE(lines.takeFirst(), QStringLiteral("Downloading %1 to %2").arg(url.toString(), destination()));
    QCOMPARE(lines.takeLast(), QStringLiteral("    Finished downloading 1000 bytes."));
    QCOMPARE(lines.takeLast(), QStringLiteral("    [100 %] Downloaded 1000 / 1000 bytes"));
    QVERIFY2(lines.size() >= 3, qPrintable(lines.join(QLatin1Char('\n'))));
    for (const QString &line : qAsConst(lines)) {
        const int received = line.section(QLatin1String("Downloaded "), 1).section(QLatin1Char(' '), 0, 0).toInt();
        QVERIFY(received > 0 && received % 100 == 0);
        QCOMPARE(line, announceLength
                 ? QStringLiteral("    [%1 %] Downloaded %2 / 1000 bytes").arg(received / 10).arg(received)
                 : QStringLiteral("    Downloaded %1 bytes").arg(received));
    }
    QCOMPARE(readFile(destination()), body);
}

void NetworkTransferTest::secondDownloadIsRefused()
{
    LoopbackHttpServer server;
    QVERIFY(server.start());
    server.setAnswer(HttpAnswer::ok("manifest"));
    const QUrl url = server.url(QStringLiteral("/pc/updates.json"));
    const QString other = folder->filePath(QStringLiteral("updates/other.json"));
    bool secondResult = true;
    connect(&server, &LoopbackHttpServer::requestReceived, &server, [&] {
        secondResult = updater()->download(url, other, QString());
    });

    QVERIFY(updater()->download(url, destination(), QString()));

    QVERIFY(!secondResult);
    QCOMPARE(withoutRepeatedProgress(logLines()),
             (QStringList{QStringLiteral("Downloading %1 to %2").arg(url.toString(), destination()),
                          QStringLiteral("Downloading %1 to %2").arg(url.toString(), other),
                          QStringLiteral("    [100 %] Downloaded 8 / 8 bytes"),
                          QStringLiteral("    Finished downloading 8 bytes.")}));
    QVERIFY(!QFile::exists(other));
}

// A shutdown message ends the wait while the server still owes most of the body:
// nothing is stored, and nothing of the reply reaches the log any more.
void NetworkTransferTest::shutdownEndsTransfer()
{
    HttpAnswer answer = HttpAnswer::ok(package(3000));
    answer.bytesToSend = 1000;
    answer.ending = HttpAnswer::Stall;
    LoopbackHttpServer server;
    QVERIFY(server.start());
    server.setAnswer(answer);
    QLocalSocket control;
    connect(&server, &LoopbackHttpServer::requestReceived, &control, [&control] {
        control.connectToServer(QStringLiteral("ZorvanApplicationUpdater"));
        control.write("shutdown");
    });
    const QUrl url = server.url(QStringLiteral("/pc/package.bin"));

    QVERIFY(updater()->download(url, destination(), QString()));

    const QStringList lines{QStringLiteral("Downloading %1 to %2").arg(url.toString(), destination()),
                            QStringLiteral("Received LOCAL SOCKET connection"),
                            QStringLiteral("Received LOCAL SOCKET message: shutdown")};
    QCOMPARE(logLines(), lines);
    // Longer than the transfer timeout: an aborted reply must not time out later.
    QTest::qWait(2500);
    QCOMPARE(logLines(), lines);
    QVERIFY(!QFile::exists(destination()));
    QCOMPARE(cacheFiles(), QStringList());

    // The shutdown asked the application to quit, which keeps every event loop from
    // running until the application's own loop has run once.
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
}

void NetworkTransferTest::certificate_data()
{
    QTest::addColumn<bool>("trustCa");
    QTest::newRow("from an unknown authority") << false;
    QTest::newRow("from an authority added to the trusted ones") << true;
}

void NetworkTransferTest::certificate()
{
    QFETCH(bool, trustCa);

    TestCertificates certificates;
    QVERIFY(certificates.create(folder->path()));
    LoopbackHttpServer server;
    server.useTls(certificates.certificate(), certificates.key());
    QVERIFY(server.start());
    server.setAnswer(HttpAnswer::ok("manifest"));
    const QUrl url = server.url(QStringLiteral("/pc/updates.json"));

    const QSslConfiguration systemDefault = QSslConfiguration::defaultConfiguration();
    if (trustCa) {
        QSslConfiguration trusting = systemDefault;
        trusting.addCaCertificate(certificates.ca());
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    const bool result = updater()->download(url, destination(), QString());
    QSslConfiguration::setDefaultConfiguration(systemDefault);

    QStringList lines{QStringLiteral("Downloading %1 to %2").arg(url.toString(), destination())};
    if (trustCa) {
        lines << QStringLiteral("    [100 %] Downloaded 8 / 8 bytes")
              << QStringLiteral("    Finished downloading 8 bytes.");
    } else {
        lines << QStringLiteral("    TLS ERROR: The issuer certificate of a locally looked up certificate could not be found")
              << QStringLiteral("    TLS ERROR: No certificates could be verified")
              << QStringLiteral("    ERROR: (6) SSL handshake failed");
    }
    QCOMPARE(result, trustCa);
    QCOMPARE(withoutRepeatedProgress(logLines()), lines);
    QCOMPARE(readFile(destination()), trustCa ? QByteArray("manifest") : previousContents);
    QCOMPARE(cacheFiles(), QStringList());
}

UPDATER_TEST_MAIN(NetworkTransferTest)
#include "tst_networktransfer.moc"
