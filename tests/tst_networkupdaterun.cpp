#include "support/loopbackport.h"
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
    QTest::newRow("whole update") << false << true << false
                                  << offered + QStringList{"    SUCCESS: MD5 hash of downloaded file is {md5}, as expected.",
                                                           "    Finished downloading 300000 bytes."}
                                  << QStringList{"package.zip"} << QString();
    QTest::newRow("through a proxy") << false << true << false
                                     << offered + QStringList{"    SUCCESS: MD5 hash of downloaded file is {md5}, as expected.",
                                                              "    Finished downloading 300000 bytes."}
                                     << QStringList{"package.zip"} << "forwarding";
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
    const QByteArray proxyUrl = proxy == "dead" ? "http://127.0.0.1:" + QByteArray::number(freeLoopbackPort())
                                                : tinyproxy.url().toLatin1();
    if (!proxy.isEmpty()) {
        qputenv("http_proxy", proxyUrl);
        qputenv("https_proxy", proxyUrl);
    }
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
        QCOMPARE(tinyproxy.requests(), (https ? QStringList{"CONNECT " + QUrl(remote).authority()}
                                              : QStringList{"GET " + remote + "/pc/updates.json",
                                                            "GET " + remote + "/pc/package.zip"}));
}

QTEST_GUILESS_MAIN(NetworkUpdateRunTest)
#include "tst_networkupdaterun.moc"
