#include "support/nginxserver.h"
#include "support/sandbox.h"

#include <QtTest>

namespace {
// The tool's exit code, or -1 when it crashed, and standard output and error, in that order.
QPair<int, QString> runTool(const Sandbox &sandbox, const QStringList &arguments)
{
    const Sandbox::Result result = sandbox.run(arguments, QStringLiteral(PUBLISH_EXECUTABLE));
    // Windows ends the lines of its standard streams with "\r\n".
    return {result.exitCode, QString::fromLocal8Bit(result.standardOutput + result.standardError)
                                     .replace(QLatin1String("\r\n"), QLatin1String("\n"))};
}

// A package file outside the remote folder, as a build leaves it.
QString writePackage(const Sandbox &sandbox, const QString &name, const QByteArray &bytes)
{
    writeFile(sandbox.path(QStringLiteral("build/") + name), bytes);
    return sandbox.path(QStringLiteral("build/") + name);
}

QPair<int, QString> publish(const Sandbox &sandbox, const QString &package, const QString &version,
                            const QStringList &extra = {})
{
    return runTool(sandbox, QStringList{"--remote", sandbox.remoteFolder(), "--package", package, "--version", version}
                                    + extra);
}

// The first update published into a remote folder, which later ones meet.
const QByteArray firstPackage = testPackage(200001);
const QByteArray package = testPackage(200002);
int publishFirst(const Sandbox &sandbox)
{
    return publish(sandbox, writePackage(sandbox, "app.zip", firstPackage), "2.1",
                   {"--os-version", "10+", "--sign-key", TEST_SECRET_KEY}).first;
}

// Every entry below root with its contents and time of change, so that a rewrite with
// the same bytes counts as a change too.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree[path.mid(root.size())] = QByteArray::number(it.fileInfo().lastModified().toMSecsSinceEpoch())
                + (it.fileInfo().isDir() ? QByteArray(" folder") : ' ' + readFile(path));
    }
    return tree;
}

enum class Remote { Empty, NoUpdateFolder, Published, UpdateFolderIsFile };
}
Q_DECLARE_METATYPE(Remote)

class PublishTest : public QObject
{
    Q_OBJECT

private slots:
    void updaterInstallsPublishedUpdate_data();
    void updaterInstallsPublishedUpdate();
    void refusalLeavesRemoteAsItWas_data();
    void refusalLeavesRemoteAsItWas();
    void verifyReportsWhatUpdaterDoes_data();
    void verifyReportsWhatUpdaterDoes();
};

void PublishTest::updaterInstallsPublishedUpdate_data()
{
    QTest::addColumn<bool>("http"); // through nginx; else through a file URL
    QTest::addColumn<bool>("overFirst");
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("extra");

    QTest::newRow("plain") << false << false << "pelmara-2.1.zip" << "2.1" << QStringList();
    QTest::newRow("name with spaces and percent") << false << false << "Pelmara Setup 100%.exe" << "3"
                                                  << QStringList{"--os-version", " 7+ "};
    QTest::newRow("wildcard version, rule any") << false << false << "pelmara.msi" << "2.x"
                                                << QStringList{"--os-version", "any"};
    QTest::newRow("time stamp beyond 32 bits") << false << false << "pelmara.msi" << "2.0.2201010000" << QStringList();
    // The rule of the earlier update goes with it.
    QTest::newRow("replaces an earlier update") << false << true << "pelmara-2.2.zip" << "2.2"
                                                << QStringList{"--sign-key", TEST_SECRET_KEY};
    QTest::newRow("signed") << false << false << "pelmara-2.1.zip" << "2.1" << QStringList{"--sign-key", TEST_SECRET_KEY};
    QTest::newRow("http, signed") << true << false << "pelmara-2.1.zip" << "2.1" << QStringList{"--sign-key", TEST_SECRET_KEY};
    QTest::newRow("force: older version") << false << true << "other.zip" << "2.0" << QStringList{"--force"};
    QTest::newRow("force: different package of same name") << false << true << "app.zip" << "2.2"
                                                           << QStringList{"--force"};
    QTest::newRow("http, plain") << true << false << "pelmara-2.1.zip" << "2.1" << QStringList();
    QTest::newRow("http, name with spaces and percent") << true << false << "Pelmara Setup 100%.exe" << "3"
                                                        << QStringList{"--os-version", " 7+ "};
}

void PublishTest::updaterInstallsPublishedUpdate()
{
    QFETCH(bool, http);
    QFETCH(bool, overFirst);
    QFETCH(QString, packageName);
    QFETCH(QString, version);
    QFETCH(QStringList, extra);

    Sandbox sandbox;
    NginxServer nginx(sandbox.remoteFolder());
    QVERIFY(!http || nginx.start());
    if (overFirst)
        QCOMPARE(publishFirst(sandbox), 0);
    const QString md5 = QString::fromLatin1(md5Hex(package));
    const bool signs = extra.contains("--sign-key");
    QCOMPARE(publish(sandbox, writePackage(sandbox, packageName, package), version, extra),
             qMakePair(0, QStringLiteral("Published version %1: %2, 200002 bytes, MD5 %3.\n").arg(version, packageName, md5)
                                  + (signs ? "Signed updates.json with key " TEST_KEY_ID ".\n" : "")));
    // --force over a signed folder takes the stale signature away.
    QCOMPARE(QFileInfo::exists(sandbox.remoteFolder() + "/pc/updates.json.minisig"), signs);
    QJsonObject manifest{{"md5", md5}, {"sha256", QString(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex())},
                         {"size", 200002}, {"os", "windows"}, {"version", version}, {"package", packageName}};
    if (extra.size() == 2 && extra.first() == QLatin1String("--os-version"))
        manifest.insert("compatible_os_version", extra.last());
    QCOMPARE(QJsonDocument::fromJson(readFile(sandbox.remoteFolder() + "/pc/updates.json")).object(), manifest);

    const QPair<int, QString> verified = runTool(sandbox, QStringList{"--remote", sandbox.remoteFolder(), "--verify"}
                                                                  + (signs ? QStringList{"--public-key", TEST_PUBLIC_KEY} : QStringList()));
    QCOMPARE(verified.first, 0);
    QVERIFY2(verified.second.startsWith(signs ? "updates.json is signed by key " TEST_KEY_ID ".\n" : "updates.json is not signed.\n"),
             qPrintable(verified.second));

    QCOMPARE(sandbox.run(sandbox.arguments(http ? nginx.httpUrl() : sandbox.remoteUrl()),
                         signs ? SIGNING_UPDATER_EXECUTABLE : UPDATER_EXECUTABLE).exitCode, 0);
    QCOMPARE(sandbox.availableFiles(), QStringList{packageName});
    QCOMPARE(readFile(sandbox.availableFolder() + QLatin1Char('/') + packageName), package);
    QVERIFY2(sandbox.logLines().contains("    SUCCESS: MD5 hash of downloaded file is " + md5 + ", as expected."),
             sandbox.logBytes().constData());
}

void PublishTest::refusalLeavesRemoteAsItWas_data()
{
    QTest::addColumn<Remote>("remote");
    QTest::addColumn<QString>("packageName"); // empty: no package file at all
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString app = QStringLiteral("app.zip");
    const QStringList none;
    const QString notDecimal = QStringLiteral("is not made of decimal numbers");
    QTest::newRow("letters in version") << Remote::Empty << app << "2.1a" << none << 2 << notDecimal;
    QTest::newRow("empty component") << Remote::Empty << app << "2..1" << none << 2 << notDecimal;
    QTest::newRow("signed component") << Remote::Empty << app << "2.+1" << none << 2 << notDecimal;
    QTest::newRow("capital X") << Remote::Empty << app << "2.X" << none << 2 << notDecimal;
    QTest::newRow("empty version") << Remote::Empty << app << "" << none << 2 << notDecimal;
    QTest::newRow("component beyond 64 bits") << Remote::Empty << app << "2.0.99999999999999999999" << none << 2
                                              << notDecimal;
    QTest::newRow("force keeps version rule") << Remote::Published << app << "2.1 " << QStringList{"--force"} << 2
                                              << notDecimal;

    const QString notNewer = QStringLiteral("would not count version");
    QTest::newRow("same version") << Remote::Published << "other.zip" << "2.1" << none << 3 << notNewer;
    QTest::newRow("older version") << Remote::Published << "other.zip" << "2.0.1700000000" << none << 3 << notNewer;
    QTest::newRow("extra component counts as older") << Remote::Published << "other.zip" << "2.1.0" << none << 3
                                                     << notNewer;
    for (const char *older : {"1.0", "2.0.1610051745", "2.0.1610051745.1"})
        QTest::newRow(older) << Remote::Empty << app << older << none << 3
                             << "updaters of version 2.0.1610051745 would not count version " + QString(older);

    for (const char *rule : {"win7", "any+", "ANY", "7 +", "11", "   "})
        QTest::newRow(qPrintable(QStringLiteral("rule \"%1\"").arg(QLatin1String(rule))))
                << Remote::NoUpdateFolder << app << "2.1" << QStringList{"--os-version", rule} << 2
                << "names no version the updater knows";

    const QString badName = QStringLiteral("would refuse the package name");
#ifndef Q_OS_WIN // where a backslash separates folders
    QTest::newRow("backslash in name") << Remote::Empty << "setup\\2.1.exe" << "2.1" << none << 2 << badName;
#endif
    QTest::newRow("colon in name") << Remote::Empty << "c:setup.exe" << "2.1" << none << 2 << badName;
    QTest::newRow("control character in name") << Remote::Empty << "setup\n.exe" << "2.1" << none << 2 << badName;
    QTest::newRow("named like the manifest") << Remote::Published << "Updates.JSON" << "2.2" << QStringList{"--force"}
                                             << 2 << "like the manifest";

    QTest::newRow("missing package") << Remote::NoUpdateFolder << QString() << "2.1" << none << 2
                                     << "cannot read the package";
    QTest::newRow("different package of same name") << Remote::Published << app << "2.2" << none << 3
                                                    << "a different app.zip is already published";
    QTest::newRow("unsigned over signed") << Remote::Published << "other.zip" << "2.2" << none << 3 << "is signed";
    QTest::newRow("minisign fails") << Remote::Published << "other.zip" << "2.2"
                                    << QStringList{"--sign-key", "%remote/missing.key"} << 6 << "cannot sign with";
    QTest::newRow("update folder is a file") << Remote::UpdateFolderIsFile << app << "2.1" << none << 4
                                             << "cannot create the folder";
    QTest::newRow("missing remote folder") << Remote::Empty << app << "2.1" << QStringList{"--remote", "%remote/missing"}
                                           << 2 << "does not exist";
    QTest::newRow("verify with package") << Remote::Published << app << "2.2" << QStringList{"--verify"} << 1
                                         << "--verify only checks";
}

void PublishTest::refusalLeavesRemoteAsItWas()
{
    QFETCH(Remote, remote);
    QFETCH(QString, packageName);
    QFETCH(QString, version);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    Sandbox sandbox;
    const QString updateFolder = sandbox.remoteFolder() + QLatin1String("/pc");
    if (remote == Remote::Published)
        QCOMPARE(publishFirst(sandbox), 0);
    if (remote == Remote::NoUpdateFolder || remote == Remote::UpdateFolderIsFile)
        QVERIFY(QDir(updateFolder).removeRecursively());
    if (remote == Remote::UpdateFolderIsFile)
        writeFile(updateFolder, "not a folder");
    const QString package = packageName.isEmpty() ? sandbox.path(QStringLiteral("build/app.zip"))
                                                  : writePackage(sandbox, packageName, testPackage(200002));
    extra.replaceInStrings(QStringLiteral("%remote"), sandbox.remoteFolder());

    const QMap<QString, QByteArray> before = snapshot(sandbox.remoteFolder());
    const QPair<int, QString> result = publish(sandbox, package, version, extra);
    QCOMPARE(result.first, exitCode);
    QVERIFY2(result.second.contains(message), qPrintable(result.second));
    QCOMPARE(snapshot(sandbox.remoteFolder()), before);
}

// A manifest that offers version 3 of package, published over the tool's own.
QByteArray handWritten(const QByteArray &md5, const char *package, const char *more = "")
{
    return "{\"md5\":\"" + md5 + "\",\"os\":\"windows\",\"version\":\"3\",\"package\":\"" + package + '"' + more + '}';
}

void PublishTest::verifyReportsWhatUpdaterDoes_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("overwritten"); // a file below pc, or empty
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString all = QStringLiteral("An updater of version 2.0.1610051745 on Windows 7, 8, 8.1, 10 would ");
    const QByteArray md5 = md5Hex(package);
    const QString json = QStringLiteral("updates.json");
    QTest::newRow("published update") << "2.1" << QString() << QByteArray() << 0
                                      << all + "download app.zip (200002 bytes";
    QTest::newRow("damaged package") << "2.1" << "app.zip" << QByteArray("truncated") << 5
                                     << all + "download app.zip and discard it as damaged: its MD5 is " + md5Hex("truncated");
    QTest::newRow("version not newer") << "2.0.1" << QString() << QByteArray() << 5
            << all + "not install an update: The most recent update has already been installed.";
    QTest::newRow("extra component is older") << "2.0.1610051745.1" << QString() << QByteArray() << 5
                                              << all + "not install an update: The most recent update";
    QTest::newRow("manifest not JSON") << "2.1" << json << QByteArray("{\"md5\":") << 5
                                       << all + "not install an update: Error parsing updates.json";
    QTest::newRow("package named with a folder") << "2.1" << json << handWritten(md5, "sub/app.zip") << 5
                                                 << all + "fail to store the package \"sub/app.zip\"";
    // The updater compares digests regardless of case, as Windows tools print them in upper case.
    QTest::newRow("upper-case digest") << "2.1" << json << handWritten(md5.toUpper(), "app.zip") << 0
                                       << all + "download app.zip";
    QTest::newRow("rule for one Windows") << "2.1" << json
            << handWritten(md5, "app.zip", ",\"compatible_os_version\":\"8.1\"") << 0
            << "on Windows 7, 8, 10 would not install an update: Target OS Version is not compatible.";
}

void PublishTest::verifyReportsWhatUpdaterDoes()
{
    QFETCH(QString, version);
    QFETCH(QString, overwritten);
    QFETCH(QByteArray, bytes);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    Sandbox sandbox;
    QCOMPARE(publish(sandbox, writePackage(sandbox, "app.zip", package), version, {"--force"}).first, 0);
    if (!overwritten.isEmpty())
        sandbox.putRemote(overwritten, bytes);

    const QMap<QString, QByteArray> before = snapshot(sandbox.remoteFolder());
    const QPair<int, QString> result = runTool(sandbox, {"--remote", sandbox.remoteFolder(), "--verify"});
    QCOMPARE(result.first, exitCode);
    QVERIFY2(result.second.contains(message), qPrintable(result.second));
    QCOMPARE(snapshot(sandbox.remoteFolder()), before);

    // The updater itself, here on no known Windows, agrees where no Windows rule is given.
    if (!bytes.contains("compatible_os_version")) {
        QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
        QCOMPARE(sandbox.availableFiles().isEmpty(), exitCode != 0);
    }
}

QTEST_GUILESS_MAIN(PublishTest)
#include "tst_publish.moc"
