#include "support/sandbox.h"
#include "support/updatertestmain.h"

// Copies of the updater in this process from a file URL into a destination that
// already holds an earlier file.
class FileTransferTest : public QObject
{
    Q_OBJECT

private slots:
    void copy_data();
    void copy();
};

void FileTransferTest::copy_data()
{
    QTest::addColumn<QByteArray>("source"); // empty: no source file
    QTest::addColumn<QString>("expectedMd5");
    QTest::addColumn<QStringList>("lines"); // after the "Downloading" line
    QTest::addColumn<bool>("replaced");

    const QByteArray body("package bytes");
    const QString digest = QString::fromLatin1(md5Hex(body));
    const QString wrong(32, QLatin1Char('0'));
    const QString success = "    SUCCESS: MD5 hash of downloaded file is " + digest + ", as expected.";
    const QString finished = QStringLiteral("    Finished downloading 13 bytes.");
    const QString verifying = QStringLiteral("    Verifying downloaded file ...");

    QTest::newRow("no digest") << body << QString() << QStringList{finished} << true;
    QTest::newRow("digest matches") << body << digest << QStringList{verifying, success, finished} << true;
    QTest::newRow("upper-case digest matches") << body << digest.toUpper() << QStringList{verifying, success, finished}
                                               << true;
    QTest::newRow("digest differs")
            << body << wrong
            << QStringList{verifying, QStringLiteral("    FAILURE: MD5 hash of downloaded file was %1, which is "
                                                     "distinct from the expected %2.").arg(digest, wrong)}
            << false;
    QTest::newRow("source missing") << QByteArray() << digest << QStringList{"    ERROR: Cloud not store downloaded file."}
                                    << false;
}

void FileTransferTest::copy()
{
    QFETCH(QByteArray, source);
    QFETCH(QString, expectedMd5);
    QFETCH(QStringList, lines);
    QFETCH(bool, replaced);

    Sandbox sandbox;
    QVERIFY(QDir().mkpath(sandbox.updatesFolder() + "/cache"));
    const QString destination = sandbox.availableFolder() + "/app.zip";
    writeFile(destination, "earlier");
    if (!source.isEmpty())
        sandbox.putRemote("app.zip", source);
    const QUrl url = QUrl::fromLocalFile(sandbox.remoteFolder() + "/pc/app.zip");
    auto app = static_cast<UpdaterApp *>(QCoreApplication::instance());
    app->setLocalPath(sandbox.updatesFolder());

    QCOMPARE(app->download(url, destination, {expectedMd5, {}, -1}), replaced);
    app->setLocalPath(QString());

    QCOMPARE(sandbox.logLines(), QStringList{"Downloading " + url.toString() + " to " + destination} + lines);
    QCOMPARE(readFile(destination), replaced ? source : QByteArray("earlier"));
    QCOMPARE(sandbox.cacheFiles(), QStringList());
}

UPDATER_TEST_MAIN(FileTransferTest)
#include "tst_filetransfer.moc"
