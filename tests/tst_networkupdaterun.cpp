#include "support/nginxserver.h"
#include "support/sandbox.h"
#include "support/testcertificates.h"
#include "support/tinyproxy.h"

#include <QHostInfo>
#include <QtTest>

// Whole update runs of the built updater against nginx over http and https.
class NetworkUpdateRunTest : public QObject
{
    Q_OBJECT

private slots:
    void updateRun_data();
    void updateRun();
    void resume_data();
    void resume();
};

void NetworkUpdateRunTest::updateRun_data()
{
    QTest::addColumn<bool>("https");
    QTest::addColumn<bool>("publish");
    QTest::addColumn<bool>("corruptPackage");
    QTest::addColumn<QStringList>("tail"); // after the start lines
    QTest::addColumn<QStringList>("available");
    QTest::addColumn<QString>("proxy"); // none, a tinyproxy that forwards, one that wants credentials, or none listening

    const QString manifest = QStringLiteral("Downloading {remote}/pc/updates.json to {updates}/updates.json");
    const QStringList offered{"No update was already downloaded.", manifest,
                              "    [100 %] Downloaded {manifestSize} / {manifestSize} bytes",
                              "    Finished downloading {manifestSize} bytes.",
                              "Checking if version 2.1 is more recent than 2.0.1610051745",
                              "Downloading {remote}/pc/package.zip to {updates}/available/package.zip",
                              "    [100 %] Downloaded 300000 / 300000 bytes",
                              "    Verifying downloaded file ..."};
    const QStringList whole = offered + QStringList{"    SUCCESS: MD5 hash of downloaded file is {md5}, as expected.",
                                                    "    Finished downloading 300000 bytes."};
    QTest::newRow("whole update") << false << true << false << whole << QStringList{"package.zip"} << QString();
    QTest::newRow("through a proxy") << false << true << false << whole << QStringList{"package.zip"} << "forwarding";
    QTest::newRow("missing manifest")
            << false << false << false
            << QStringList{"No update was already downloaded.", manifest,
                           "    ERROR: (203) Error transferring {remote}/pc/updates.json - server replied: Not Found",
                           "Could not open updates.json for reading"}
            << QStringList() << QString();
    QTest::newRow("digest mismatch")
            << false << true << true
            << offered + QStringList{"    FAILURE: MD5 hash of downloaded file was {corruptMd5}, which is distinct from the expected {md5}.",
                                     "    Updates could not be downloaded properly. Deleting partially downloaded files to try again."}
            << QStringList() << QString();
    const QStringList selfSigned{"No update was already downloaded.", manifest,
                                 "    TLS ERROR: The certificate is self-signed, and untrusted",
                                 "    ERROR: (6) SSL handshake failed", "Could not open updates.json for reading"};
    QTest::newRow("self-signed https") << true << true << false << selfSigned << QStringList() << QString();
    // Through the proxy's tunnel the updater still checks the server's own certificate.
    QTest::newRow("self-signed https through a proxy") << true << true << false << selfSigned << QStringList()
                                                       << "forwarding";
    QTest::newRow("proxy that wants credentials")
            << false << true << false
            << QStringList{"No update was already downloaded.", manifest,
                           "    ERROR: (105) Proxy requires authentication", "Could not open updates.json for reading"}
            << QStringList() << "credentials";
    // The request is not sent around a proxy that does not answer.
    QTest::newRow("dead proxy") << false << true << false
                                << QStringList{"No update was already downloaded.", manifest,
                                               "    ERROR: (1) Connection refused",
                                               "Could not open updates.json for reading"}
                                << QStringList() << "dead";
}

void NetworkUpdateRunTest::updateRun()
{
    QFETCH(bool, https);
    QFETCH(bool, publish);
    QFETCH(bool, corruptPackage);
    QFETCH(QStringList, tail);
    QFETCH(QStringList, available);
    QFETCH(QString, proxy);
#ifdef Q_OS_WIN
    if (!proxy.isEmpty())
        QSKIP("Windows takes its proxy from the Internet Options, not from the environment");
#endif

    Sandbox sandbox;
    QByteArray package(300000, 'p');
    const QByteArray md5 = publish ? sandbox.publish("package.zip", package) : QByteArray();
    if (corruptPackage) {
        package[1000] = 'q';
        sandbox.putRemote("package.zip", package);
    }
    NginxServer server(sandbox.remoteFolder());
    TestCertificates certificates;
    if (https) {
        QVERIFY(certificates.create(sandbox.path(), true));
        server.enableHttps(certificates.certificateFile, certificates.keyFile);
    }
    QVERIFY(server.start());
    // Qt sends nothing for the loopback address through a proxy; the proxy looks up the name.
    const QString host = proxy.isEmpty() ? QStringLiteral("127.0.0.1") : QHostInfo::localHostName();
    const QString remote = https ? server.httpsUrl(host) : server.httpUrl(host);
    TinyProxy tinyproxy;
    if (!proxy.isEmpty() && proxy != "dead")
        QVERIFY(tinyproxy.start(proxy == "credentials" ? "updater secret" : ""));
    const QByteArray proxyUrl = proxy.isEmpty() ? QByteArray()
            : proxy == "dead"                   ? "http://127.0.0.1:" + QByteArray::number(freeLoopbackPort())
                                                : tinyproxy.url().toLatin1();
    qputenv("http_proxy", proxyUrl);
    qputenv("https_proxy", proxyUrl);
    const Sandbox::Result result = sandbox.run(sandbox.arguments(remote));
    qunsetenv("http_proxy");
    qunsetenv("https_proxy");

    QCOMPARE(result.exitCode, 0);
    tail.replaceInStrings("{remote}", remote);
    tail.replaceInStrings("{updates}", sandbox.updatesFolder());
    tail.replaceInStrings("{manifestSize}", QString::number(QFileInfo(sandbox.remoteFolder() + "/pc/updates.json").size()));
    tail.replaceInStrings("{md5}", md5);
    tail.replaceInStrings("{corruptMd5}", md5Hex(package));
    QCOMPARE(withFinalProgressOnly(sandbox.logLines()), startLines(sandbox, remote) + tail);
    QCOMPARE(sandbox.availableFiles(), available);
    if (!available.isEmpty())
        QCOMPARE(readFile(sandbox.availableFolder() + "/package.zip"), package);
    QCOMPARE(sandbox.cacheFiles(), QStringList());
    if (proxy == "forwarding")
        QVERIFY(tinyproxy.log().contains(https ? "CONNECT " + QUrl(remote).authority().toLatin1()
                                               : "GET " + remote.toLatin1() + "/pc/package.zip"));
}

void NetworkUpdateRunTest::resume_data()
{
    QTest::addColumn<QString>("meanwhile"); // what becomes of the package or of the kept part between the runs
    QTest::addColumn<QByteArray>("access"); // nginx's status and body size for the next run's package request

    QTest::newRow("the rest is fetched") << QString() << QByteArray("206 {rest}");
    QTest::newRow("package changed on the server") << "touched" << QByteArray("200 1000000");
    QTest::newRow("kept part damaged") << "damaged" << QByteArray("206 {rest}");
}

// A run killed in the middle of the package leaves what it received; the next run asks
// the server for the rest, as long as the server still has the same file.
void NetworkUpdateRunTest::resume()
{
#ifdef Q_OS_WIN
    QSKIP("Under wine the harness's nginx serves every test, without a rate limit or an access log");
#endif
    QFETCH(QString, meanwhile);
    QFETCH(QByteArray, access);

    Sandbox sandbox;
    const QByteArray package = testPackage(1000000);
    sandbox.publish("package.zip", package);
    NginxServer server(sandbox.remoteFolder());
    server.limitRate("400k");
    QVERIFY(server.start());
    const QString part = sandbox.updatesFolder() + "/cache/package.partial";
    QProcess killed;
    sandbox.start(killed, sandbox.arguments(server.httpUrl()));
    QVERIFY(QTest::qWaitFor([&part] { return QFileInfo(part).size() > 100000; }, 20000));
    killed.kill();
    QVERIFY(killed.waitForFinished());
    const qint64 kept = QFileInfo(part).size();
    QFile changed(meanwhile == "touched" ? sandbox.remoteFolder() + "/pc/package.zip" : part);
    QVERIFY(changed.open(QIODevice::ReadWrite));
    if (meanwhile == "touched") // which gives it a new ETag
        QVERIFY(changed.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    if (meanwhile == "damaged")
        QVERIFY(changed.putChar('!'));
    changed.close();

    const int logged = sandbox.logBytes().size();
    QCOMPARE(sandbox.run(sandbox.arguments(server.httpUrl())).exitCode, 0);
    const QByteArray log = sandbox.logBytes().mid(logged);
    QVERIFY(log.contains("    Resuming at " + QByteArray::number(kept) + " bytes.\n"));
    // Progress counts the whole package, kept bytes included.
    QVERIFY(log.contains("    [100 %] Downloaded 1000000 / 1000000 bytes\n    Verifying downloaded file ...\n"));
    QCOMPARE(log.contains("    FAILURE: MD5 hash"), meanwhile == "damaged");
    QCOMPARE(server.lastAccess(), access.replace("{rest}", QByteArray::number(1000000 - kept)));
    QCOMPARE(sandbox.cacheFiles(), QStringList());
    if (meanwhile == "damaged") {
        // Not resumed again: the run after starts over.
        QCOMPARE(sandbox.run(sandbox.arguments(server.httpUrl())).exitCode, 0);
        QCOMPARE(server.lastAccess(), QByteArray("200 1000000"));
    }
    QCOMPARE(readFile(sandbox.availableFolder() + "/package.zip"), package);
}

QTEST_GUILESS_MAIN(NetworkUpdateRunTest)
#include "tst_networkupdaterun.moc"
