#include "support/sandbox.h"
#include "support/updatertestmain.h"

class FileTransferTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void copy_data();
    void copy();

private:
    static UpdaterApp *app() { return static_cast<UpdaterApp *>(QCoreApplication::instance()); }
    QStringList logLines() const;

    QScopedPointer<QTemporaryDir> folder;
};

void FileTransferTest::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
    QVERIFY(QDir(folder->path()).mkpath(QStringLiteral("cache")));
    QVERIFY(QDir(folder->path()).mkpath(QStringLiteral("available")));
    app()->setLocalPath(folder->path());
}

void FileTransferTest::cleanup()
{
    app()->setLocalPath(QString());
}

QStringList FileTransferTest::logLines() const
{
    QFile file(folder->filePath(QStringLiteral("updater.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void FileTransferTest::copy_data()
{
    QTest::addColumn<QByteArray>("source");      // empty: no source file
    QTest::addColumn<QByteArray>("expectedMd5"); // "right", "RIGHT" or a literal digest
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("lines");      // after the "Downloading" line
    QTest::addColumn<bool>("replaced");

    const QByteArray body("package bytes");
    const QString digest = QString::fromLatin1(md5Hex(body));
    const QString wrong(32, QLatin1Char('0'));
    const QString success = QStringLiteral("    SUCCESS: MD5 hash of downloaded file is %1, as expected.").arg(digest);
    const QString finished = QStringLiteral("    Finished downloading 13 bytes.");
    const QString verifying = QStringLiteral("    Verifying downloaded file ...");
    const QString storeError = QStringLiteral("    ERROR: Cloud not store downloaded file.");

    QTest::newRow("no digest") << body << QByteArray() << true
                               << QStringList{finished} << true;
    QTest::newRow("digest matches") << body << digest.toLatin1() << true
                                    << QStringList{verifying, success, finished} << true;
    QTest::newRow("upper-case digest matches") << body << digest.toUpper().toLatin1() << true
                                               << QStringList{verifying, success, finished} << true;
    QTest::newRow("digest differs") << body << wrong.toLatin1() << false
                                    << QStringList{verifying,
                                                   QStringLiteral("    FAILURE: MD5 hash of downloaded file was %1, which is distinct from the expected %2.").arg(digest, wrong)}
                                    << false;
    QTest::newRow("source missing") << QByteArray() << digest.toLatin1() << false
                                    << QStringList{storeError} << false;
}

void FileTransferTest::copy()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, expectedMd5);
    QFETCH(bool, result);
    QFETCH(QStringList, lines);
    QFETCH(bool, replaced);

    const QString sourcePath = folder->filePath(QStringLiteral("remote.zip"));
    if (!source.isEmpty()) {
        QFile file(sourcePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(source);
    }
    const QString destination = folder->filePath(QStringLiteral("available/app.zip"));
    {
        QFile file(destination);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier");
    }

    const QUrl url = QUrl::fromLocalFile(sourcePath);
    QCOMPARE(app()->download(url, destination, QString::fromLatin1(expectedMd5)), result);

    QCOMPARE(logLines(), QStringList{QStringLiteral("Downloading %1 to %2").arg(url.toString(), destination)} + lines);
    QFile stored(destination);
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), replaced ? source : QByteArray("earlier"));
    QCOMPARE(QDir(folder->filePath(QStringLiteral("cache"))).entryList(QDir::Files), QStringList());
}

UPDATER_TEST_MAIN(FileTransferTest)
#include "tst_filetransfer.moc"
