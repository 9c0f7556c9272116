#include "support/nginxserver.h"
#include "support/sandbox.h"

#include <QtTest>

namespace {
struct ToolResult
{
    int exitCode = -1;
    QString output; // standard output and standard error, in that order
};

ToolResult runTool(const Sandbox &sandbox, const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(sandbox.environment());
    process.start(QStringLiteral(PUBLISH_EXECUTABLE), arguments);
    ToolResult result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
    return result;
}

QByteArray packageBytes(char seed)
{
    QByteArray bytes(200000 + seed, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + seed) % 251);
    return bytes;
}

// A package file outside the remote folder, as a build leaves it.
QString writePackage(const Sandbox &sandbox, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(sandbox.path(QStringLiteral("build")));
    const QString path = sandbox.path(QStringLiteral("build/") + name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return path;
}

ToolResult publish(const Sandbox &sandbox, const QString &package, const QString &version,
                   const QStringList &extra = {})
{
    return runTool(sandbox, QStringList{QStringLiteral("--remote"), sandbox.remoteFolder(),
                                        QStringLiteral("--package"), package,
                                        QStringLiteral("--version"), version} + extra);
}

ToolResult verify(const Sandbox &sandbox)
{
    return runTool(sandbox, {QStringLiteral("--remote"), sandbox.remoteFolder(), QStringLiteral("--verify")});
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
        QByteArray &entry = tree[path.mid(root.size())];
        entry = QByteArray::number(it.fileInfo().lastModified().toMSecsSinceEpoch()) + ' ';
        QFile file(path);
        if (it.fileInfo().isDir())
            entry += "folder";
        else if (file.open(QIODevice::ReadOnly))
            entry += file.readAll();
    }
    return tree;
}

QJsonObject publishedManifest(const Sandbox &sandbox)
{
    QFile file(sandbox.remoteFolder() + QLatin1String("/pc/updates.json"));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

QStringList words(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts)
        list.append(QString::fromUtf8(text));
    return list;
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
    void updaterInstallsPublishedUpdateOverHttp_data() { updaterInstallsPublishedUpdate_data(); }
    void updaterInstallsPublishedUpdateOverHttp();
    void refusalLeavesRemoteAsItWas_data();
    void refusalLeavesRemoteAsItWas();
    void forceOverridesConflicts_data();
    void forceOverridesConflicts();
    void verifyReportsWhatUpdaterDoes_data();
    void verifyReportsWhatUpdaterDoes();

private:
    void expectInstalled(const Sandbox &sandbox, const QString &remoteUrl);
};

void PublishTest::updaterInstallsPublishedUpdate_data()
{
    QTest::addColumn<QString>("earlierVersion");
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("extra");

    QTest::newRow("plain") << QString() << "pelmara-2.1.zip" << "2.1" << QStringList();
    QTest::newRow("name with spaces and percent") << QString() << "Pelmara Setup 100%.exe" << "3"
                                                  << words({"--os-version", " 10+ "});
    QTest::newRow("wildcard version, rule any") << QString() << "pelmara.msi" << "2.x"
                                                << words({"--os-version", "any"});
    QTest::newRow("time stamp beyond 32 bits") << QString() << "pelmara.msi" << "2.0.2201010000"
                                               << QStringList();
    QTest::newRow("replaces an earlier update") << "2.1" << "pelmara-2.2.zip" << "2.2" << QStringList();
}

// Publishes into the sandbox's remote folder and runs the updater against remoteUrl, which
// must serve that folder; any transport's round trip can share the data above.
void PublishTest::expectInstalled(const Sandbox &sandbox, const QString &remoteUrl)
{
    QFETCH(QString, earlierVersion);
    QFETCH(QString, packageName);
    QFETCH(QString, version);
    QFETCH(QStringList, extra);

    if (!earlierVersion.isEmpty()) {
        const QString earlier = writePackage(sandbox, QStringLiteral("earlier.zip"), packageBytes(1));
        QCOMPARE(publish(sandbox, earlier, earlierVersion).exitCode, 0);
    }
    const QByteArray bytes = packageBytes(2);
    const ToolResult published = publish(sandbox, writePackage(sandbox, packageName, bytes), version, extra);
    QCOMPARE(published.exitCode, 0);
    QCOMPARE(published.output, QStringLiteral("Published version %1: %2, %3 bytes, MD5 %4.\n")
                                       .arg(version, packageName, QString::number(bytes.size()),
                                            QString::fromLatin1(md5Hex(bytes))));

    const Sandbox::Result run = sandbox.run(sandbox.arguments(remoteUrl));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(sandbox.availableFiles(), QStringList{packageName});
    QFile installed(sandbox.availableFolder() + QLatin1Char('/') + packageName);
    QVERIFY(installed.open(QIODevice::ReadOnly));
    QCOMPARE(installed.readAll(), bytes);
    QVERIFY2(sandbox.logLines().contains(QStringLiteral("    SUCCESS: MD5 hash of downloaded file is %1, as expected.")
                                                 .arg(QString::fromLatin1(md5Hex(bytes)))),
             sandbox.logBytes().constData());
}

void PublishTest::updaterInstallsPublishedUpdate()
{
    Sandbox sandbox;
    expectInstalled(sandbox, sandbox.remoteUrl());
}

void PublishTest::updaterInstallsPublishedUpdateOverHttp()
{
    Sandbox sandbox;
    NginxServer nginx(sandbox.remoteFolder());
    QVERIFY(nginx.start());
    expectInstalled(sandbox, nginx.httpUrl());
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
    const QString notDecimal = QStringLiteral("is not made of decimal numbers");
    QTest::newRow("letters in version") << Remote::Empty << app << "2.1a" << QStringList() << 2 << notDecimal;
    QTest::newRow("empty component") << Remote::Empty << app << "2..1" << QStringList() << 2 << notDecimal;
    QTest::newRow("signed component") << Remote::Empty << app << "2.+1" << QStringList() << 2 << notDecimal;
    QTest::newRow("capital X") << Remote::Empty << app << "2.X" << QStringList() << 2 << notDecimal;
    QTest::newRow("empty version") << Remote::Empty << app << "" << QStringList() << 2 << notDecimal;
    QTest::newRow("component beyond 64 bits") << Remote::Empty << app << "2.0.99999999999999999999"
                                              << QStringList() << 2 << notDecimal;
    QTest::newRow("force keeps version rule") << Remote::Published << app << "2.1 " << words({"--force"})
                                              << 2 << notDecimal;

    const QString notNewer = QStringLiteral("would not count version");
    QTest::newRow("same version") << Remote::Published << "other.zip" << "2.1" << QStringList() << 3 << notNewer;
    QTest::newRow("older version") << Remote::Published << "other.zip" << "2.0.1700000000" << QStringList()
                                   << 3 << notNewer;
    QTest::newRow("extra component counts as older") << Remote::Published << "other.zip" << "2.1.0"
                                                     << QStringList() << 3 << notNewer;

    const QString unknownRule = QStringLiteral("names no version the updater knows");
    for (const char *rule : {"win7", "any+", "ANY", "7 +", "11", "   "})
        QTest::newRow(qPrintable(QStringLiteral("rule \"%1\"").arg(QLatin1String(rule))))
                << Remote::NoUpdateFolder << app << "2.1" << words({"--os-version", rule}) << 2 << unknownRule;

    const QString badName = QStringLiteral("would refuse the package name");
    QTest::newRow("backslash in name") << Remote::Empty << "setup\\2.1.exe" << "2.1" << QStringList() << 2 << badName;
    QTest::newRow("colon in name") << Remote::Empty << "c:setup.exe" << "2.1" << QStringList() << 2 << badName;
    QTest::newRow("control character in name") << Remote::Empty << "setup\n.exe" << "2.1" << QStringList()
                                               << 2 << badName;
    QTest::newRow("named like the manifest") << Remote::Published << "Updates.JSON" << "2.2" << words({"--force"})
                                             << 2 << "like the manifest";

    QTest::newRow("missing package") << Remote::NoUpdateFolder << QString() << "2.1" << QStringList()
                                     << 2 << "cannot read the package";
    QTest::newRow("different package of same name") << Remote::Published << app << "2.2" << QStringList()
                                                    << 3 << "a different app.zip is already published";
    QTest::newRow("update folder is a file") << Remote::UpdateFolderIsFile << app << "2.1" << QStringList()
                                             << 4 << "cannot create the folder";
    QTest::newRow("missing remote folder") << Remote::Empty << app << "2.1"
                                           << words({"--remote", "%remote/missing"}) << 2 << "does not exist";
    QTest::newRow("verify with package") << Remote::Published << app << "2.2" << words({"--verify"})
                                         << 1 << "--verify only checks";
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
    if (remote == Remote::Published) {
        const QString first = writePackage(sandbox, QStringLiteral("app.zip"), packageBytes(1));
        QCOMPARE(publish(sandbox, first, QStringLiteral("2.1"), {QStringLiteral("--os-version"), QStringLiteral("10+")}).exitCode, 0);
    } else if (remote != Remote::Empty) {
        QDir(updateFolder).removeRecursively();
        if (remote == Remote::UpdateFolderIsFile)
            QVERIFY(QFile(updateFolder).open(QIODevice::WriteOnly));
    }
    const QString package = packageName.isEmpty()
            ? sandbox.path(QStringLiteral("build/app.zip"))
            : writePackage(sandbox, packageName, packageBytes(2));
    extra.replaceInStrings(QStringLiteral("%remote"), sandbox.remoteFolder());

    const QMap<QString, QByteArray> before = snapshot(sandbox.remoteFolder());
    const ToolResult result = publish(sandbox, package, version, extra);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.output.contains(message), qPrintable(result.output));
    QCOMPARE(snapshot(sandbox.remoteFolder()), before);
}

void PublishTest::forceOverridesConflicts_data()
{
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QString>("version");

    QTest::newRow("older version") << "other.zip" << "2.0";
    QTest::newRow("different package of same name") << "app.zip" << "2.2";
}

void PublishTest::forceOverridesConflicts()
{
    QFETCH(QString, packageName);
    QFETCH(QString, version);

    Sandbox sandbox;
    const QString first = writePackage(sandbox, QStringLiteral("app.zip"), packageBytes(1));
    QCOMPARE(publish(sandbox, first, QStringLiteral("2.1"), {QStringLiteral("--os-version"), QStringLiteral("10+")}).exitCode, 0);
    const QByteArray bytes = packageBytes(2);
    QCOMPARE(publish(sandbox, writePackage(sandbox, packageName, bytes), version, {QStringLiteral("--force")}).exitCode, 0);

    // The rule of the earlier update goes with it.
    const QJsonObject expected{{QStringLiteral("md5"), QString::fromLatin1(md5Hex(bytes))},
                               {QStringLiteral("os"), QStringLiteral("windows")},
                               {QStringLiteral("version"), version},
                               {QStringLiteral("package"), packageName}};
    QCOMPARE(publishedManifest(sandbox), expected);
    QFile published(sandbox.remoteFolder() + QLatin1String("/pc/") + packageName);
    QVERIFY(published.open(QIODevice::ReadOnly));
    QCOMPARE(published.readAll(), bytes);
}

// A manifest that offers version 3 of package, published over the tool's own.
QByteArray handWritten(const QByteArray &md5, const char *package, const char *more = "")
{
    return "{\"md5\":\"" + md5 + "\",\"os\":\"windows\",\"version\":\"3\",\"package\":\"" + package
            + '"' + more + '}';
}

void PublishTest::verifyReportsWhatUpdaterDoes_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("overwritten"); // a file below pc, or empty
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString all = QStringLiteral("An updater of version 2.0.1610051745 on Windows 7, 8, 8.1, 10 would ");
    const QByteArray md5 = md5Hex(packageBytes(2));
    const QString json = QStringLiteral("updates.json");
    QTest::newRow("published update") << "2.1" << QString() << QByteArray() << 0
                                      << all + QLatin1String("download app.zip (200002 bytes");
    QTest::newRow("damaged package") << "2.1" << "app.zip" << QByteArray("truncated") << 5
                                     << all + QLatin1String("download app.zip and discard it as damaged: its MD5 is ")
                                                + QString::fromLatin1(md5Hex("truncated"));
    QTest::newRow("version not newer") << "2.0.1" << QString() << QByteArray() << 5
            << all + QLatin1String("not install an update: The most recent update has already been installed.");
    QTest::newRow("extra component is older") << "2.0.1610051745.1" << QString() << QByteArray() << 5
            << all + QLatin1String("not install an update: The most recent update");
    QTest::newRow("manifest not JSON") << "2.1" << json << QByteArray("{\"md5\":") << 5
                                       << all + QLatin1String("not install an update: Error parsing updates.json");
    QTest::newRow("package named with a folder") << "2.1" << json << handWritten(md5, "sub/app.zip") << 5
                                                 << all + QLatin1String("fail to store the package \"sub/app.zip\"");
    // The updater compares digests regardless of case, as Windows tools print them in upper case.
    QTest::newRow("upper-case digest") << "2.1" << json << handWritten(md5.toUpper(), "app.zip") << 0
                                       << all + QLatin1String("download app.zip");
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
    QCOMPARE(publish(sandbox, writePackage(sandbox, QStringLiteral("app.zip"), packageBytes(2)), version).exitCode, 0);
    if (!overwritten.isEmpty())
        sandbox.putRemote(overwritten, bytes);

    const QMap<QString, QByteArray> before = snapshot(sandbox.remoteFolder());
    const ToolResult result = verify(sandbox);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.output.contains(message), qPrintable(result.output));
    QCOMPARE(snapshot(sandbox.remoteFolder()), before);

    // The updater itself, here on no known Windows, agrees where no Windows rule is given.
    if (!publishedManifest(sandbox).contains(QStringLiteral("compatible_os_version"))) {
        QCOMPARE(sandbox.run(sandbox.arguments()).exitCode, 0);
        QCOMPARE(sandbox.availableFiles().isEmpty(), exitCode != 0);
    }
}

QTEST_GUILESS_MAIN(PublishTest)
#include "tst_publish.moc"
