#include "support/sandbox.h"

#include <QtTest>

// Whole update runs of the built updater against a folder reached through a file URL.
class UpdateRunTest : public QObject
{
    Q_OBJECT

private slots:
    void installsNewerPackage();
    void waitingPackageStopsTheRun();
    void subfolderDoesNotStopTheRun();
    void digestMismatchEmptiesAvailableFolder();
    void manifestRules_data();
    void manifestRules();
    void missingManifestIsNotEvaluated();
    void refusedPackageNameWritesNothing_data();
    void refusedPackageNameWritesNothing();
    void unwritableAvailableFolder();
    void removesUnfinishedDownloads();

private:
    static QString manifestLine(const Sandbox &sandbox);
    static QString packageLine(const Sandbox &sandbox, const QString &name);
};

QString UpdateRunTest::manifestLine(const Sandbox &sandbox)
{
    return QStringLiteral("Downloading %1/pc/updates.json to %2/updates.json")
            .arg(sandbox.remoteUrl(), sandbox.updatesFolder());
}

QString UpdateRunTest::packageLine(const Sandbox &sandbox, const QString &name)
{
    return QStringLiteral("Downloading %1/pc/%2 to %3/%2")
            .arg(sandbox.remoteUrl(), name, sandbox.availableFolder());
}

void UpdateRunTest::installsNewerPackage()
{
    Sandbox sandbox;
    const QByteArray package(200000, 'p');
    const QByteArray digest = sandbox.publish(QStringLiteral("app-2.1.zip"), package);
    const qint64 manifestSize = QFileInfo(sandbox.remoteFolder() + QLatin1String("/pc/updates.json")).size();

    const Sandbox::Result result = sandbox.run(sandbox.arguments());
    QCOMPARE(result.exitCode, 0);
    const QStringList expected = startLines(sandbox, sandbox.remoteUrl()) + QStringList{
        "No update was already downloaded.",
        manifestLine(sandbox),
        QStringLiteral("    Finished downloading %1 bytes.").arg(manifestSize),
        "Checking if version 2.1 is more recent than 2.0.1610051745",
        packageLine(sandbox, "app-2.1.zip"),
        "    Verifying downloaded file ...",
        "    SUCCESS: MD5 hash of downloaded file is " + digest + ", as expected.",
        "    Finished downloading 200000 bytes.",
    };
    QCOMPARE(sandbox.logLines(), expected);
    QCOMPARE(sandbox.availableFiles(), QStringList{"app-2.1.zip"});
    QFile stored(sandbox.availableFolder() + "/app-2.1.zip");
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), package);
    QCOMPARE(sandbox.cacheFiles(), QStringList());

    // The log grows across runs, and the waiting package latches every later run
    // until an installer takes it away.
    const QByteArray firstLog = sandbox.logBytes();
    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    QVERIFY(sandbox.logBytes().startsWith(firstLog));
    const QStringList secondRun = QString::fromLatin1(sandbox.logBytes().mid(firstLog.size()))
            .split('\n', Qt::SkipEmptyParts).mid(2);
    QCOMPARE(secondRun, startLines(sandbox, sandbox.remoteUrl())
             + QStringList{"Previously installed updates are yet to be installed."});
    QCOMPARE(sandbox.availableFiles(), QStringList{"app-2.1.zip"});
}

void UpdateRunTest::waitingPackageStopsTheRun()
{
    Sandbox sandbox;
    sandbox.publish("app.zip", "new");
    QVERIFY(QDir().mkpath(sandbox.availableFolder()));
    QFile waiting(sandbox.availableFolder() + "/anything.bin");
    QVERIFY(waiting.open(QIODevice::WriteOnly));
    waiting.close();

    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    QCOMPARE(sandbox.logLines(), startLines(sandbox, sandbox.remoteUrl())
             + QStringList{"Previously installed updates are yet to be installed."});
    QVERIFY(!QFileInfo::exists(sandbox.updatesFolder() + "/updates.json"));
}

void UpdateRunTest::subfolderDoesNotStopTheRun()
{
    Sandbox sandbox;
    sandbox.publish("app.zip", "new");
    QVERIFY(QDir().mkpath(sandbox.availableFolder() + "/leftover"));

    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    QVERIFY(sandbox.logLines().contains("No update was already downloaded."));
    QCOMPARE(sandbox.availableFiles(), QStringList{"app.zip"});
}

void UpdateRunTest::digestMismatchEmptiesAvailableFolder()
{
    Sandbox sandbox;
    const QByteArray digest = sandbox.publish("app.zip", "as published");
    sandbox.putRemote("app.zip", "damaged on the share");

    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    const QStringList lines = sandbox.logLines();
    const QStringList expected{
        packageLine(sandbox, "app.zip"),
        "    Verifying downloaded file ...",
        "    FAILURE: MD5 hash of downloaded file was " + md5Hex("damaged on the share")
                + ", which is distinct from the expected " + digest + ".",
        "    Updates could not be downloaded properly. Deleting partially downloaded files to try again.",
    };
    QCOMPARE(lines.mid(lines.size() - 4), expected);
    QCOMPARE(sandbox.availableFiles(), QStringList());
    QCOMPARE(sandbox.cacheFiles(), QStringList());
}

void UpdateRunTest::manifestRules_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QStringList>("lines"); // what follows the manifest's Finished line

    const QString older = "The most recent update has already been installed. No updates found.";
    const QString notWindows = "Target OS for the update is not compatible.";
    const QString noDigest = "Updates.json does not report MD5 hash for its package. Without MD5 hash, we cannot download updates!";
    QJsonParseError notJson;
    QJsonDocument::fromJson("this is no JSON", &notJson);
    QJsonParseError emptyFile;
    QJsonDocument::fromJson("", &emptyFile);

    QTest::newRow("not JSON") << QByteArray("this is no JSON")
                              << QStringList{"Error parsing updates.json: " + notJson.errorString()};
    QTest::newRow("empty file") << QByteArray()
                                << QStringList{"Error parsing updates.json: " + emptyFile.errorString()};
    QTest::newRow("array") << QByteArray("[1, 2]") << QStringList{"No update information was found in updates.json"};
    QTest::newRow("empty object") << QByteArray("{}") << QStringList{"No update information was found in updates.json"};
    QTest::newRow("digest checked before os") << QByteArray(R"({"os": "linux", "version": "3"})") << QStringList{noDigest};
    QTest::newRow("numeric digest") << QByteArray(R"({"md5": 5, "os": "windows", "version": "3"})") << QStringList{noDigest};
    QTest::newRow("os absent") << QByteArray(R"({"md5": "abc", "version": "3"})") << QStringList{notWindows};
    QTest::newRow("os capitalised") << QByteArray(R"({"md5": "abc", "os": "Windows", "version": "3"})") << QStringList{notWindows};
    QTest::newRow("os version rule") << QByteArray(R"({"md5": "abc", "os": "windows", "compatible_os_version": "7", "version": "3"})")
                                     << QStringList{"Checking if current OS is same as Windows-7", "Target OS Version is not compatible."};
    QTest::newRow("or newer admits unknown Windows") << QByteArray(R"({"md5": "abc", "os": "windows", "compatible_os_version": "10+", "version": "2.0.1"})")
                                                     << QStringList{"Checking if current OS is more recent or same as Windows-10",
                                                                    "Checking if version 2.0.1 is more recent than 2.0.1610051745", older};
    QTest::newRow("same version") << QByteArray(R"({"md5": "abc", "os": "windows", "version": "2.0.1610051745"})")
                                  << QStringList{"Checking if version 2.0.1610051745 is more recent than 2.0.1610051745", older};
    QTest::newRow("numeric version") << QByteArray(R"({"md5": "abc", "os": "windows", "version": 3})")
                                     << QStringList{"Checking if version  is more recent than 2.0.1610051745", older};
    QTest::newRow("no package") << QByteArray(R"({"md5": "abc", "os": "windows", "compatible_os_version": "any", "version": "2.x"})")
                                << QStringList{"Checking if version 2.x is more recent than 2.0.1610051745"};
}

void UpdateRunTest::manifestRules()
{
    QFETCH(QByteArray, manifest);
    QFETCH(QStringList, lines);

    Sandbox sandbox;
    sandbox.putRemote("updates.json", manifest);
    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    const QStringList expected = startLines(sandbox, sandbox.remoteUrl()) + QStringList{
        "No update was already downloaded.",
        manifestLine(sandbox),
        QStringLiteral("    Finished downloading %1 bytes.").arg(manifest.size()),
    } + lines;
    QCOMPARE(sandbox.logLines(), expected);
    QCOMPARE(sandbox.availableFiles(), QStringList());
}

void UpdateRunTest::missingManifestIsNotEvaluated()
{
    Sandbox sandbox;
    // A copy from an earlier run must not be evaluated again.
    QVERIFY(QDir().mkpath(sandbox.updatesFolder()));
    QFile earlier(sandbox.updatesFolder() + "/updates.json");
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write(R"({"md5": "abc", "os": "windows", "version": "3", "package": "old.zip"})");
    earlier.close();

    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    const QStringList expected = startLines(sandbox, sandbox.remoteUrl()) + QStringList{
        "No update was already downloaded.",
        manifestLine(sandbox),
        "    ERROR: Cloud not store downloaded file.",
        "Could not open updates.json for reading",
    };
    QCOMPARE(sandbox.logLines(), expected);
    QVERIFY(!QFileInfo::exists(sandbox.updatesFolder() + "/updates.json"));
}

void UpdateRunTest::refusedPackageNameWritesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("parent folder") << "../../escaped.zip";
    QTest::newRow("absolute") << "/tmp/escaped.zip";
    QTest::newRow("backslash") << "..\\escaped.zip";
    QTest::newRow("drive letter") << "C:escaped.zip";
}

void UpdateRunTest::refusedPackageNameWritesNothing()
{
    QFETCH(QString, name);
    Sandbox sandbox;
    sandbox.putRemote("escaped.zip", "payload");
    sandbox.putManifest({{"md5", QString::fromLatin1(md5Hex("payload"))}, {"os", "windows"},
                         {"version", "3"}, {"package", name}});

    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    const QStringList lines = sandbox.logLines();
    const QStringList expected{
        "Checking if version 3 is more recent than 2.0.1610051745",
        "    ERROR: Package name " + name + " is not allowed.",
        "    Updates could not be downloaded properly. Deleting partially downloaded files to try again.",
    };
    QCOMPARE(lines.mid(lines.size() - 3), expected);
    QCOMPARE(sandbox.availableFiles(), QStringList());
    QVERIFY(!QFileInfo::exists(sandbox.localFolder() + "/escaped.zip"));
    QVERIFY(!QFileInfo::exists(sandbox.updatesFolder() + "/escaped.zip"));
    QVERIFY(!QFileInfo::exists("/tmp/escaped.zip"));
}

void UpdateRunTest::unwritableAvailableFolder()
{
    Sandbox sandbox;
    sandbox.publish("app.zip", "new");
    // A file where the available folder belongs cannot take a package, whoever runs the test.
    QVERIFY(QDir().mkpath(sandbox.updatesFolder()));
    QFile blocker(sandbox.availableFolder());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.write("not a folder");
    blocker.close();

    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    const QStringList lines = sandbox.logLines();
    const QStringList expected{
        packageLine(sandbox, "app.zip"),
        "    Verifying downloaded file ...",
        "    SUCCESS: MD5 hash of downloaded file is " + md5Hex("new") + ", as expected.",
        "    ERROR: Cloud not store downloaded file.",
        "    Updates could not be downloaded properly. Deleting partially downloaded files to try again.",
    };
    QCOMPARE(lines.mid(lines.size() - 5), expected);
    QCOMPARE(sandbox.cacheFiles(), QStringList());
    QVERIFY(blocker.open(QIODevice::ReadOnly));
    QCOMPARE(blocker.readAll(), QByteArray("not a folder"));
}

void UpdateRunTest::removesUnfinishedDownloads()
{
    Sandbox sandbox;
    const QString cache = sandbox.updatesFolder() + "/cache";
    QVERIFY(QDir().mkpath(cache));
    for (const QString name : {"download-Ab12Cd.part", "notes.txt"}) {
        QFile file(cache + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    sandbox.publish("app.zip", "new");

    QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
    QCOMPARE(sandbox.cacheFiles(), QStringList{"notes.txt"});
    QCOMPARE(sandbox.availableFiles(), QStringList{"app.zip"});
}

QTEST_GUILESS_MAIN(UpdateRunTest)
#include "tst_updaterun.moc"
