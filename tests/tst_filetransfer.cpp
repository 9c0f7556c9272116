#include "support/sandbox.h"
#include "support/updatertestmain.h"

#include <QLocalSocket>
#include <QStorageInfo>

Q_DECLARE_METATYPE(ExpectedFile)

// Copies of the updater in this process from a file URL into a destination that
// already holds an earlier file.
class FileTransferTest : public QObject
{
    Q_OBJECT

private slots:
    void copy_data();
    void copy();
    void shutdownEndsCopy();
};

void FileTransferTest::copy_data()
{
    QTest::addColumn<QByteArray>("source"); // empty: no source file
    QTest::addColumn<ExpectedFile>("expected");
    QTest::addColumn<QStringList>("lines"); // after the "Downloading" line
    QTest::addColumn<bool>("replaced");

    const QByteArray body("package bytes");
    const QString digest = QString::fromLatin1(md5Hex(body));
    const QString wrong(32, QLatin1Char('0'));
    const QString success = "    SUCCESS: MD5 hash of downloaded file is " + digest + ", as expected.";
    const QString finished = QStringLiteral("    Finished downloading 13 bytes.");
    const QString verifying = QStringLiteral("    Verifying downloaded file ...");

    QTest::newRow("no digest") << body << ExpectedFile() << QStringList{finished} << true;
    QTest::newRow("digest matches") << body << ExpectedFile{digest, {}, -1} << QStringList{verifying, success, finished} << true;
    QTest::newRow("upper-case digest matches") << body << ExpectedFile{digest.toUpper(), {}, -1}
                                               << QStringList{verifying, success, finished} << true;
    QTest::newRow("digest differs")
            << body << ExpectedFile{wrong, {}, -1}
            << QStringList{verifying, QStringLiteral("    FAILURE: MD5 hash of downloaded file was %1, which is "
                                                     "distinct from the expected %2.").arg(digest, wrong)}
            << false;
    QTest::newRow("source missing") << QByteArray() << ExpectedFile{digest, {}, -1}
                                    << QStringList{"    ERROR: Cloud not store downloaded file."} << false;
    QTest::newRow("stated length beyond the free space")
            << body << ExpectedFile{QString(), QString(), qint64(1) << 62}
            << QStringList{"    ERROR: Not enough free disk space: 4611686018427387904 bytes needed, {free} available."}
            << false;
}

void FileTransferTest::copy()
{
    QFETCH(QByteArray, source);
    QFETCH(ExpectedFile, expected);
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
    // Wine, for one, cannot tell the free space of the Linux folders it shows.
    if (expected.size > 0 && !QStorageInfo(sandbox.updatesFolder()).isValid()) {
        QTest::qSkip("This system does not tell the free disk space", __FILE__, __LINE__);
        return;
    }

    QCOMPARE(app->download(url, destination, expected), replaced);
    app->setLocalPath(QString());

    QCOMPARE(sandbox.logLines().replaceInStrings(QRegularExpression("\\d+ available\\.$"), "{free} available."),
             QStringList{"Downloading " + url.toString() + " to " + destination} + lines);
    QCOMPARE(readFile(destination), replaced ? source : QByteArray("earlier"));
    QCOMPARE(sandbox.cacheFiles(), QStringList());
}

// A shutdown that arrives while a large file is copied ends the copy: nothing is placed.
void FileTransferTest::shutdownEndsCopy()
{
    Sandbox sandbox;
    QVERIFY(QDir().mkpath(sandbox.updatesFolder() + "/cache"));
    sandbox.putRemote("app.zip", QByteArray(64 << 20, 'p'));
    writeFile(sandbox.availableFolder() + "/older.zip", "earlier");
    auto app = static_cast<UpdaterApp *>(QCoreApplication::instance());
    app->setLocalPath(sandbox.updatesFolder());
    QLocalSocket control;
    control.connectToServer(QStringLiteral("ZorvanApplicationUpdater"));
    control.write("shutdown");
    control.flush();

    QVERIFY(app->download(QUrl::fromLocalFile(sandbox.remoteFolder() + "/pc/app.zip"), sandbox.availableFolder() + "/app.zip", {}));
    app->setLocalPath(QString());

    QCOMPARE(sandbox.logLines().mid(1), (QStringList{"Received LOCAL SOCKET connection", "Received LOCAL SOCKET message: shutdown"}));
    QCOMPARE(sandbox.availableFiles(), QStringList());
    QCOMPARE(sandbox.cacheFiles(), QStringList());
    // The shutdown asked the application to quit, which keeps every event loop from
    // running until the application's own loop has run once.
    QTimer::singleShot(0, app, &QCoreApplication::quit);
    QCoreApplication::exec();
}

UPDATER_TEST_MAIN(FileTransferTest)
#include "tst_filetransfer.moc"
