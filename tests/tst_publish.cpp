#include "support/sandbox.h"

#include <QtTest>

namespace {
const QByteArray package(200002, 'p');

// Limited, the tool's writes past 100 KiB fail (EFBIG: the one failure that root meets too).
Sandbox::Result publish(const Sandbox &sandbox, const QStringList &arguments, bool limited = false)
{
    const QStringList command = QStringList{PUBLISH_EXECUTABLE, "--remote", sandbox.remoteFolder()} + arguments;
    return limited ? sandbox.run(QStringList{"-c", "trap '' XFSZ; ulimit -f 100; exec \"$@\"", "bash"} + command, "bash")
                   : sandbox.run(command.mid(1), PUBLISH_EXECUTABLE);
}

// A package file outside the remote folder, as a build leaves it.
QString packageFile(const Sandbox &sandbox, const QString &name, const QByteArray &bytes = package)
{
    writeFile(sandbox.path("build/" + name), bytes);
    return sandbox.path("build/" + name);
}

// Every entry below root, a file with its time of change, so that a rewrite counts too.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree[path] = it.fileInfo().isDir() ? QByteArray("folder")
                                           : QByteArray::number(it.fileInfo().lastModified().toMSecsSinceEpoch()) + readFile(path);
    }
    return tree;
}
}

class PublishTest : public QObject
{
    Q_OBJECT

private slots:
    void publishing_data();
    void publishing();
    void verification_data();
    void verification();
    void packageBeforeManifest();
    void resign();
};

void PublishTest::publishing_data()
{
    // before: what the remote folder holds: an empty folder pc, a signed update (app.zip, version 2.1, rule
    // 10+; as 2.x, the rows' own package), no folder pc, a file in its place, or a folder in the signature's.
    // A refusal leaves it as it was; a publication the updater installs, over http for rows so named.
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("packageName"); // empty: no package file at all
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // what a refusal says after "Not published: "

    const auto row = [](const char *name, const char *before, const char *package, const QStringList &arguments,
                        int exitCode = 0, const QString &message = QString()) {
        QTest::newRow(name) << before << package << arguments << exitCode << message;
    };
    row("plain", "empty", "pelmara-2.1.zip", {"--version", "2.1"});
    row("http, spaces and percent, rule", "empty", "Pelmara Setup 100%41%.exe", {"--version", "3", "--os-version", " 10+ "});
    row("wildcard version, rule any", "empty", "pelmara.msi", {"--version", "2.x", "--os-version", "any"});
    row("replaces an earlier update", "published", "pelmara-2.2.zip", {"--version", "2.2", "--sign-key", TEST_SECRET_KEY});
    row("http, signed", "empty", "pelmara-2.1.zip", {"--version", "2.1", "--sign-key", TEST_SECRET_KEY, "--expires", "1"});
    row("force: older version, different package of same name", "published", "app.zip", {"--version", "2.0", "--force"});
    row("same package under a new version", "published 2.x", "app.zip", {"--version", "3", "--sign-key", TEST_SECRET_KEY});
    row("resumed rollout: the same again without --force", "published, halted", "app.zip",
        {"--version", "2.1", "--sign-key", TEST_SECRET_KEY, "--rollout", "100", "--os-version", "10+"});

    for (const char *malformed : {"2.+1", "2.X"})
        row(malformed, "empty", "app.zip", {"--version", malformed}, 2, "the version \"" + QString(malformed) + "\" is not made of decimal");
    row("same version", "published", "other.zip", {"--version", "2.1"}, 3, "an updater would not count version 2.1 as");
    row("below a published wildcard", "published 2.x", "other.zip", {"--version", "2.9"}, 3, "an updater would not count version 2.9 as");
    row("extra component counts as older", "published", "other.zip", {"--version", "2.1.0"}, 3, "an updater would not count");
    for (const char *older : {"1.0", "1.x", "2.0.1610051745", "2.0.1610051745.1"})
        row(older, "empty", "app.zip", {"--version", older}, 3, "updaters of version 2.0.1610051745 would not count version " + QString(older));
    row("unknown rule", "no folder", "app.zip", {"--version", "2.1", "--os-version", "win7"}, 2,
        "the Windows version rule \"win7\" names no version the updater knows (any, or 7, 8, 8.1, 10,");
    row("colon in name", "empty", "c:setup.exe", {"--version", "2.1"}, 2, "the updater would refuse the package name \"c:setup.exe\".");
    for (const char *name : {"Updates.JSON", "updates.json.MINISIG"})
        row(name, "published", name, {"--version", "2.2", "--force"}, 2, "a package cannot be named \"" + QString(name) + "\", like the");
    row("missing package", "no folder", "", {"--version", "2.1"}, 2, "cannot read the package");
    row("different package of same name", "published", "app.zip", {"--version", "2.2"}, 3,
        "a different app.zip is already published, and updaters may be downloading it (--force replaces it).");
    row("unsigned over signed", "published", "other.zip", {"--version", "2.2"}, 3, "the published updates.json is signed");
    row("minisign fails", "published", "other.zip", {"--version", "2.2", "--sign-key", "missing.key"}, 6, "cannot sign with");
    row("package cannot be copied", "no folder, file size limit", "app.zip", {"--version", "2.1"}, 4, "cannot copy the package");
    row("signature cannot be written", "signature folder", "app.zip", {"--version", "2.1", "--sign-key", TEST_SECRET_KEY}, 4,
        "cannot write");
    row("update folder is a file", "file", "app.zip", {"--version", "2.1"}, 4, "cannot create the folder");
    row("rollout above 100", "empty", "app.zip", {"--version", "2.1", "--rollout", "100.5"}, 2,
        "the rollout \"100.5\" is no percent from 0 to 100.");
    row("expiry of no days", "published", "other.zip", {"--version", "2.2", "--sign-key", TEST_SECRET_KEY, "--expires", "0"}, 1,
        "--expires takes a whole number of days from 1 to 36500");
    row("verify with package", "published", "app.zip", {"--verify"}, 1, "--verify only checks; it takes no --package.");
}

void PublishTest::publishing()
{
    QFETCH(QString, before);
    QFETCH(QString, packageName);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    Sandbox sandbox;
    const QString pc = sandbox.remoteFolder() + "/pc";
    if (before.startsWith("published")) {
        const bool alike = before.endsWith("2.x");
        const bool halted = before.endsWith("halted");
        const QStringList first{"--package", packageFile(sandbox, "app.zip", alike || halted ? package : QByteArray("first")),
                                "--version", alike ? "2.x" : "2.1", "--os-version", "10+", "--sign-key", TEST_SECRET_KEY,
                                "--rollout", halted ? "0" : "100"};
        QCOMPARE(publish(sandbox, first).exitCode, 0);
    }
    if (before.startsWith("no folder") || before == "file")
        QVERIFY(QDir(pc).removeRecursively());
    if (before == "file")
        writeFile(pc, "not a folder");
    if (before == "signature folder")
        QVERIFY(QDir().mkpath(pc + "/updates.json.minisig"));
    const QMap<QString, QByteArray> remote = snapshot(sandbox.remoteFolder());

    const QString file = packageName.isEmpty() ? sandbox.path("build/app.zip") : packageFile(sandbox, packageName);
    const Sandbox::Result result = publish(sandbox, QStringList{"--package", file} + arguments, before.endsWith("limit"));
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode != 0) {
        // minisign, when it fails, says why before the tool does.
        QVERIFY2(QString(result.output).section('\n', -2).startsWith((exitCode == 1 ? "" : "Not published: ") + message), result.output);
        QCOMPARE(snapshot(sandbox.remoteFolder()), remote);
        return;
    }
    const QString version = arguments.at(1);
    const QString md5 = QString::fromLatin1(md5Hex(package));
    const bool signs = arguments.contains("--sign-key");
    // A signature holds from its making for the days asked, 30 unless told.
    const QRegularExpression times(" at ([^,]+), valid until ([^.]+)");
    const QRegularExpressionMatch stated = times.match(result.output);
    QCOMPARE(QDateTime::fromString(stated.captured(1), Qt::ISODate).secsTo(QDateTime::fromString(stated.captured(2), Qt::ISODate)),
             signs ? 86400 * (arguments.contains("--expires") ? arguments.last().toInt() : 30) : 0);
    QCOMPARE(QString(result.output).remove(times),
             QStringLiteral("Published version %1: %2, 200002 bytes, MD5 %3.\n").arg(version, packageName, md5)
                     + (signs ? "Signed updates.json with key " TEST_KEY_ID ".\n" : ""));
    // --force over a signed folder takes the stale signature away.
    QCOMPARE(QFileInfo::exists(pc + "/updates.json.minisig"), signs);
    QJsonObject manifest{{"md5", md5}, {"sha256", sha256Hex(package)},
                         {"size", 200002}, {"os", "windows"}, {"version", version}, {"package", packageName}};
    if (arguments.contains("--os-version"))
        manifest.insert("compatible_os_version", arguments.last());
    QCOMPARE(QJsonDocument::fromJson(readFile(pc + "/updates.json")).object(), manifest);
    const Sandbox::Result verified = publish(sandbox, signs ? QStringList{"--verify", "--public-key", TEST_PUBLIC_KEY} : QStringList{"--verify"});
    QCOMPARE(verified.exitCode, 0);
    QVERIFY2(verified.output.startsWith(signs ? "updates.json is signed by key " TEST_KEY_ID " at " : "updates.json is not signed.\n"),
             verified.output);
    const QString url = sandbox.remoteUrl(QString(QTest::currentDataTag()).startsWith("http") ? "http" : "file");
    QCOMPARE(sandbox.run(sandbox.arguments(url), signs ? SIGNING_UPDATER_EXECUTABLE : UPDATER_EXECUTABLE).exitCode, 0);
    QCOMPARE(filesBelow(sandbox.availableFolder()), QStringList{packageName});
    QCOMPARE(readFile(sandbox.availableFolder() + '/' + packageName), package);
}

void PublishTest::verification_data()
{
    QTest::addColumn<QString>("overwritten"); // a file below pc, or empty
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString all = QStringLiteral("An updater of version 2.0.1610051745 on Windows 7, 8, 8.1, 10 would ");
    const QByteArray md5 = md5Hex(package);
    // A manifest that offers version 3 of a package, written by hand over the tool's own.
    const auto manifest = [md5](const QByteArray &name, const QByteArray &more = "") {
        return "{\"md5\":\"" + md5 + "\",\"os\":\"windows\",\"version\":\"3\",\"package\":\"" + name + '"' + more + '}';
    };
    QTest::newRow("published update") << QString() << QByteArray() << 0
            << all + "download app.zip (200002 bytes, MD5 " + md5 + "), verify it and keep it for installation as version 2.1.\n";
    QTest::newRow("damaged package") << "app.zip" << QByteArray("truncated") << 5
            << all + "download app.zip and discard it as damaged: its MD5 is " + md5Hex("truncated") + ", updates.json states " + md5 + ".\n";
    QTest::newRow("package named with a folder") << "updates.json" << manifest("sub/app.zip") << 5
            << all + "refuse the package name \"sub/app.zip\".\n";
    QTest::newRow("rule for one Windows") << "updates.json" << manifest("app.zip", ",\"compatible_os_version\":\"8.1\"")
            << 0 << "An updater of version 2.0.1610051745 on Windows 7, 8, 10 would not install an update: "
                    "Target OS Version is not compatible.\n";
    QTest::newRow("rollout") << "updates.json" << manifest("app.zip", ",\"rollout\":12.50") << 0
                             << "Rolled out to 12.5 percent of computers; only those would.\n";
}

void PublishTest::verification()
{
    QFETCH(QString, overwritten);
    QFETCH(QByteArray, bytes);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    Sandbox sandbox;
    QCOMPARE(publish(sandbox, {"--package", packageFile(sandbox, "app.zip"), "--version", "2.1"}).exitCode, 0);
    if (!overwritten.isEmpty())
        sandbox.putRemote(overwritten, bytes);
    const QMap<QString, QByteArray> remote = snapshot(sandbox.remoteFolder());
    const Sandbox::Result result = publish(sandbox, {"--verify"});
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(QString(result.output).contains(message), result.output);
    QCOMPARE(snapshot(sandbox.remoteFolder()), remote);
}

// A reader of the remote folder meets no manifest that names a package not yet there.
void PublishTest::packageBeforeManifest()
{
    Sandbox sandbox;
    const QString trace = sandbox.path("strace.txt");
    // A leak check cannot work under ptrace, and would only report that.
    qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":detect_leaks=0");
    const Sandbox::Result result = sandbox.run({"-f", "-o", trace, "-e", "trace=linkat,rename", PUBLISH_EXECUTABLE, "--remote",
                                                sandbox.remoteFolder(), "--package", packageFile(sandbox, "app.zip"), "--version", "2.1"},
                                               "strace");
    if (result.exitCode != 0)
        QSKIP("strace cannot trace the publishing tool here");
    const QByteArray calls = readFile(trace);
    QVERIFY2(calls.indexOf("/pc/app.zip\"") > 0 && calls.indexOf("/pc/app.zip\"") < calls.indexOf("/pc/updates.json\""), calls);
}

// An expired folder, which --verify reports, lives again once re-signed, and only its signature changes;
// a manifest that the key never signed is not signed again.
void PublishTest::resign()
{
    Sandbox sandbox;
    sandbox.putRemote("app.zip", "new");
    sandbox.putRemote("updates.json.minisig", readFile(SIGNED_FOLDER "/pinned.expired.minisig"));
    sandbox.putRemote("updates.json", readFile(SIGNED_FOLDER "/pinned.json") + ' ');
    const QStringList verify{"--verify", "--public-key", TEST_PUBLIC_KEY};
    const QStringList resign{"--resign", "--sign-key", TEST_SECRET_KEY, "--expires", "2"};
    QMap<QString, QByteArray> remote = snapshot(sandbox.remoteFolder());
    QCOMPARE(publish(sandbox, resign).exitCode, 3);
    QCOMPARE(snapshot(sandbox.remoteFolder()), remote);

    sandbox.putRemote("updates.json", readFile(SIGNED_FOLDER "/pinned.json"));
    const Sandbox::Result expired = publish(sandbox, verify);
    QCOMPARE(expired.exitCode, 7);
    QVERIFY2(expired.output.endsWith("its signature, made at 2001-01-01T00:00:00Z, expired at 2001-09-09T01:46:40Z (--resign renews it).\n"),
             expired.output);
    remote = snapshot(sandbox.remoteFolder());
    const Sandbox::Result resigned = publish(sandbox, resign);
    QCOMPARE(resigned.exitCode, 0);
    QVERIFY2(resigned.output.startsWith("Signed updates.json with key " TEST_KEY_ID " at "), resigned.output);
    const QString signature = sandbox.remoteFolder() + "/pc/updates.json.minisig";
    QMap<QString, QByteArray> after = snapshot(sandbox.remoteFolder());
    QVERIFY(after.take(signature) != remote.take(signature));
    QCOMPARE(after, remote);
    QCOMPARE(publish(sandbox, verify).exitCode, 0);
    QCOMPARE(sandbox.run(sandbox.arguments(), SIGNING_UPDATER_EXECUTABLE).exitCode, 0);
    QCOMPARE(filesBelow(sandbox.availableFolder()), QStringList{"app.zip"});
}

QTEST_GUILESS_MAIN(PublishTest)
#include "tst_publish.moc"
