#include "support/nginxserver.h"
#include "support/sandbox.h"
#include "support/testcertificates.h"

#include <QFile>
#include <QtTest>

namespace {

bool isProgressLine(const QString &line)
{
    return line.startsWith(QLatin1String("    [")) || line.startsWith(QLatin1String("    Downloaded "));
}

// Progress depends on how the bytes happen to arrive; only its last report, that all
// bytes are there, is the same from run to run.
QStringList withFinalProgressOnly(const QStringList &lines)
{
    QStringList result;
    for (int i = 0; i < lines.size(); ++i) {
        if (!isProgressLine(lines[i]) || i + 1 == lines.size() || !isProgressLine(lines[i + 1]))
            result << lines[i];
    }
    return result;
}

}

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
    QTest::addColumn<QStringList>("tail");
    QTest::addColumn<QStringList>("available");

    const QStringList manifestLines{
            QStringLiteral("Downloading {remote}/pc/updates.json to {updates}/updates.json"),
            QStringLiteral("    [100 %] Downloaded {manifestSize} / {manifestSize} bytes"),
            QStringLiteral("    Finished downloading {manifestSize} bytes."),
            QStringLiteral("Checking if version 2.1 is more recent than 2.0.1610051745"),
            QStringLiteral("Downloading {remote}/pc/package.zip to {updates}/available/package.zip"),
            QStringLiteral("    [100 %] Downloaded 300000 / 300000 bytes"),
            QStringLiteral("    Verifying downloaded file ...")};
    const QStringList noManifest{
            QStringLiteral("Downloading {remote}/pc/updates.json to {updates}/updates.json"),
            QStringLiteral("    ERROR: (203) Error transferring {remote}/pc/updates.json - server replied: Not Found"),
            QStringLiteral("Could not open updates.json for reading")};
    const QStringList refused{
            QStringLiteral("Downloading {remote}/pc/updates.json to {updates}/updates.json"),
            QStringLiteral("    TLS ERROR: The certificate is self-signed, and untrusted"),
            QStringLiteral("    ERROR: (6) SSL handshake failed"),
            QStringLiteral("Could not open updates.json for reading")};

    QTest::newRow("whole update")
            << false << true << false
            << manifestLines + QStringList{
                       QStringLiteral("    SUCCESS: MD5 hash of downloaded file is {md5}, as expected."),
                       QStringLiteral("    Finished downloading 300000 bytes.")}
            << QStringList{QStringLiteral("package.zip")};
    QTest::newRow("missing manifest") << false << false << false << noManifest << QStringList();
    QTest::newRow("digest mismatch")
            << false << true << true
            << manifestLines + QStringList{
                       QStringLiteral("    FAILURE: MD5 hash of downloaded file was {corruptMd5}, which is distinct from the expected {md5}."),
                       QStringLiteral("    Updates could not be downloaded properly. Deleting partially downloaded files to try again.")}
            << QStringList();
    QTest::newRow("self-signed https") << true << true << false << refused << QStringList();
}

void NetworkUpdateRunTest::updateRun()
{
    QFETCH(bool, https);
    QFETCH(bool, publish);
    QFETCH(bool, corruptPackage);
    QFETCH(QStringList, tail);
    QFETCH(QStringList, available);

    Sandbox sandbox;
    QVERIFY(sandbox.isValid());
    QByteArray package(300000, 'p');
    QByteArray md5;
    if (publish)
        md5 = sandbox.publish(QStringLiteral("package.zip"), package);
    if (corruptPackage) {
        package[1000] = 'q';
        sandbox.putRemote(QStringLiteral("package.zip"), package);
    }
    NginxServer server(sandbox.remoteFolder());
    TestCertificates certificates;
    if (https) {
        QVERIFY(certificates.create(sandbox.path(), true));
        server.enableHttps(certificates.certificateFile, certificates.keyFile);
    }
    QVERIFY(server.start());
    const QString remote = https ? server.httpsUrl() : server.httpUrl();

    const Sandbox::Result result = sandbox.run(sandbox.arguments(remote));

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    const QFileInfo manifest(sandbox.remoteFolder() + QLatin1String("/pc/updates.json"));
    tail.replaceInStrings(QStringLiteral("{remote}"), remote);
    tail.replaceInStrings(QStringLiteral("{updates}"), sandbox.updatesFolder());
    tail.replaceInStrings(QStringLiteral("{manifestSize}"), QString::number(manifest.size()));
    tail.replaceInStrings(QStringLiteral("{md5}"), QString::fromLatin1(md5));
    tail.replaceInStrings(QStringLiteral("{corruptMd5}"), QString::fromLatin1(md5Hex(package)));
    QCOMPARE(withFinalProgressOnly(sandbox.logLines()),
             startLines(sandbox, remote) + QStringList{QStringLiteral("No update was already downloaded.")} + tail);
    QCOMPARE(sandbox.availableFiles(), available);
    if (!available.isEmpty()) {
        QFile stored(sandbox.availableFolder() + QLatin1Char('/') + available.first());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), package);
    }
    QCOMPARE(sandbox.cacheFiles(), QStringList());
}

QTEST_GUILESS_MAIN(NetworkUpdateRunTest)
#include "tst_networkupdaterun.moc"
