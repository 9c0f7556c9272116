#include "log/filelogsink.h"
#include "log/logmessage.h"
#include "support/sandbox.h"
#include "support/updatertestmain.h"

class FileLogSinkTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { app()->setLocalPath(QString()); }
    void appendsOneLine_data();
    void appendsOneLine();
    void fatalQuits_data();
    void fatalQuits();
    void sameLocalPathChangesNothing();
    void emptyLocalPathRestoresDefaultOutput();

private:
    static UpdaterApp *app() { return static_cast<UpdaterApp *>(QCoreApplication::instance()); }
    QByteArray logBytes() const { return readFile(folder->filePath(QStringLiteral("updater.log"))); }

    QScopedPointer<QTemporaryDir> folder;
};

void FileLogSinkTest::init()
{
    folder.reset(new QTemporaryDir);
    QVERIFY(folder->isValid());
    app()->setLocalPath(folder->path());
}

void FileLogSinkTest::appendsOneLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("plain") << "abc" << QByteArray("abc\n");
    QTest::newRow("empty writes nothing") << "" << QByteArray();
    QTest::newRow("latin-1 kept") << QString::fromUtf8("caf\xc3\xa9") << QByteArray("caf\xe9\n");
    QTest::newRow("outside latin-1") << QString::fromUtf8("a\xe2\x82\xac" "b") << QByteArray("a?b\n");
    QTest::newRow("embedded line feed") << "one\ntwo" << QByteArray("one\ntwo\n");
}

void FileLogSinkTest::appendsOneLine()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, bytes);
    writeFile(folder->filePath(QStringLiteral("updater.log")), "earlier\n");
    updaterLog().info("%s", qUtf8Printable(message));
    QCOMPARE(logBytes(), QByteArray("earlier\n") + bytes);
}

void FileLogSinkTest::fatalQuits_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("with text") << "boom" << QByteArray("boom\n");
}

void FileLogSinkTest::fatalQuits()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, bytes);
    // qFatal would abort the test process after the handler, so call the handler itself.
    QTimer::singleShot(0, app(), [&message] {
        fileLogHandler(QtFatalMsg, QMessageLogContext(), message);
    });
    QTimer guard;
    connect(&guard, &QTimer::timeout, app(), [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(logBytes(), bytes);
}

void FileLogSinkTest::sameLocalPathChangesNothing()
{
    qInstallMessageHandler(nullptr);
    app()->setLocalPath(folder->path());
    updaterLog().info("to the default output");
    QCOMPARE(logBytes(), QByteArray());
}

void FileLogSinkTest::emptyLocalPathRestoresDefaultOutput()
{
    app()->setLocalPath(QString());
    QCOMPARE(app()->logPath(), QStringLiteral("/updater.log"));
    updaterLog().info("to the default output");
    QCOMPARE(logBytes(), QByteArray());
}

UPDATER_TEST_MAIN(FileLogSinkTest)
#include "tst_filelogsink.moc"
