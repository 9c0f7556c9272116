#include "support/sandbox.h"

#include <QHostInfo>
#include <QtTest>

#include <functional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// Prepares the remote folder and the local one before a run.
using Setup = std::function<void(const Sandbox &)>;
Q_DECLARE_METATYPE(Setup)

namespace {
// Offers "new" as app.zip in a manifest of tests/signed, "pinned" (with SHA-256 and size) or
// "unpinned", and a signature from there, if named: made by the publishing tool with
// --expires 36500 for "prehashed"; else by minisign -S -t with the trusted comment it holds,
// "-l" for "bytes", with the test key, or with another one for "untrusted".
void publishSigned(const Sandbox &sandbox, const QString &manifest, const QString &signature = QString())
{
    sandbox.putRemote("app.zip", "new");
    sandbox.putRemote("updates.json", readFile(SIGNED_FOLDER "/" + manifest + ".json"));
    if (!signature.isEmpty())
        sandbox.putRemote("updates.json.minisig", readFile(SIGNED_FOLDER "/" + signature + ".minisig"));
}
}

// Runs of the built updater, from the command line to the files left behind, against a
// folder reached through a file URL or served by nginx.
class UpdateRunTest : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void placementReachesDisk();
    void resume_data();
    void resume();
    void windowsVersion_data();
    void windowsVersion();
};

void UpdateRunTest::run_data()
{
    // In arguments, output and log, LOCAL stands for the local folder and REMOTE for the remote
    // base; in log also MANIFEST and SIGNATURE for the sizes of the manifest and its signature,
    // REMOTE_FOLDER for the remote folder's path. output is compared whole when it is empty or
    // ends a line, else it need only be contained. No files: no updates folder at all. server:
    // file (also without drive letter), http or https, also "via" a proxy, a credentials one or a dead one.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("files");

    const auto row = [](const char *name, const QStringList &arguments, int exitCode, const QString &output,
                        const QStringList &log = {}, const QStringList &files = {}) {
        QTest::newRow(name) << arguments << Setup([](const Sandbox &) {}) << "file" << exitCode << output << log << files;
    };
    row("no arguments", {}, 2, "Local path for updater not set.\n");
    row("local only", {"--localPath", "LOCAL"}, 2, "Remote path for updater not set.\n");
    row("unknown option", {"--bogus"}, 1, "Cannot parse arguments: Unknown option 'bogus'.\n");
    row("shutdown with paths", {"--shutdown", "--localPath", "LOCAL", "--remotePath", "REMOTE"}, 0, "");
    row("help", {"--help"}, 0, "Software updater for Orvella Pelmara.");
    row("version", {"--version"}, 0, "Software Updater 2.0.1610051745\n");
    row("local folder missing", {"--localPath", "LOCAL/nowhere", "--remotePath", "REMOTE"}, 0,
        "Local path (LOCAL/nowhere) doesnt exist.\n");
    row("ftp", {"--localPath", "LOCAL", "--remotePath", "ftp://127.0.0.1/x"}, 0, "",
        {"Unsupported protocol used for remote path ftp. Supported protocols are http,https,file"}, {"updater.log"});
    // Followed by "/pc/", it would read as the host "pc".
    row("http:/", {"--localPath", "LOCAL", "--remotePath", "http:/"}, 0, "", {"Remote path http:/ is not valid"},
        {"updater.log"});

    const QStringList start{"Orvella Software Updater Version 2.0.1610051745.", "  Using local path at LOCAL/updates",
                            "  Using remote path at REMOTE/pc/", "Checking for downloaded updates in LOCAL/updates/available"};
    const QStringList manifest = start + QStringList{"No update was already downloaded.",
                                                     "Downloading REMOTE/pc/updates.json to LOCAL/updates/updates.json"};
    const QStringList offered = manifest + QStringList{"    Finished downloading MANIFEST bytes.",
                                                       "Checking if version 2.1 is more recent than 2.0.1610051745",
                                                       "Downloading REMOTE/pc/app.zip to LOCAL/updates/available/app.zip",
                                                       "    Verifying downloaded file ..."};
    const QString failed = QStringLiteral("    Updates could not be downloaded properly. "
                                          "Deleting partially downloaded files to try again.");
    const QStringList installed = offered + QStringList{"    SUCCESS: MD5 hash of downloaded file is " + md5Hex("new")
                                                                + ", as expected.", "    Finished downloading 3 bytes."};
    const QStringList withApp{"available/app.zip", "updater.log", "updates.json"};
    const QStringList withManifest{"updater.log", "updates.json"};
    const auto update = [](const char *name, const Setup &setup, const QStringList &log, const QStringList &files,
                           const QString &server = "file") {
        QTest::newRow(name) << QStringList{"--localPath", "LOCAL", "--remotePath", "REMOTE"} << setup << server << 0
                            << "" << log << files;
    };
    const QByteArray large(200000, 'p');
    update("whole update after an earlier run", [large](const Sandbox &sandbox) {
        sandbox.publish("app.zip", large);
        writeFile(sandbox.updatesFolder() + "/updater.log", "earlier run\n");
    }, QStringList{"earlier run"} + offered + QStringList{"    SUCCESS: MD5 hash of downloaded file is " + md5Hex(large)
                                                                 + ", as expected.", "    Finished downloading 200000 bytes."},
           withApp);
    // Windows takes a path without a drive letter on the current drive.
    update("file URL without drive letter", [](const Sandbox &sandbox) { sandbox.publish("app.zip", "new"); }, installed, withApp,
           "file without drive letter");
    const QStringList downloaded{"    SUCCESS: MD5 hash of downloaded file is " + md5Hex("new") + ", as expected.",
                                 "    SUCCESS: SHA-256 hash of downloaded file is " + sha256Hex("new") + ", as expected.",
                                 "    Finished downloading 3 bytes."};
    // A build that trusts no key takes a signed folder as before, and checks SHA-256 and size.
    update("signed folder, no trusted key", [](const Sandbox &sandbox) { publishSigned(sandbox, "pinned", "pinned.prehashed"); },
           offered + downloaded, withApp);
    // Rows that verify a signature run the updater built to trust the test key.
    const QString checking = QStringLiteral("Verifying signature of updates.json ...");
    const QStringList signatureFetched = manifest + QStringList{"    Finished downloading MANIFEST bytes.",
            "Downloading REMOTE/pc/updates.json.minisig to LOCAL/updates/updates.json.minisig",
            "    Finished downloading SIGNATURE bytes.", checking};
    const QString signedByTestKey = QStringLiteral("    SUCCESS: updates.json is signed by key " TEST_KEY_ID ".");
    const QStringList taken = signatureFetched + QStringList{signedByTestKey} + offered.mid(manifest.size() + 1) + downloaded;
    const QStringList withRecord{"available/app.zip", "cache/signature-time", "updater.log", "updates.json", "updates.json.minisig"};
    for (const QString signature : {"pinned.prehashed", "pinned.bytes"})
        update(qPrintable("signed folder, " + signature), [signature](const Sandbox &sandbox) { publishSigned(sandbox, "pinned", signature); },
               taken, withRecord);
    // pinned.prehashed after itself (the same folder read again), and after the newer pinned.bytes (a replay);
    // each after a record more than a day ahead of the clock, which the first run replaces.
    for (const QString before : {"pinned.prehashed", "pinned.bytes"})
        update(qPrintable("signed folder, after " + before), [before](const Sandbox &sandbox) {
            writeFile(sandbox.updatesFolder() + "/cache/signature-time", "7258118400\n");
            publishSigned(sandbox, "pinned", before);
            sandbox.run(sandbox.arguments(), SIGNING_UPDATER_EXECUTABLE);
            QFile::remove(sandbox.availableFolder() + "/app.zip");
            QFile::remove(sandbox.updatesFolder() + "/updater.log");
            publishSigned(sandbox, "pinned", "pinned.prehashed");
        }, before == "pinned.prehashed" ? taken : signatureFetched + QStringList{signedByTestKey,
                   "    FAILURE: updates.json was signed at 2026-12-07T10:38:37Z, before the one taken at 2026-12-07T11:38:37Z."},
           before == "pinned.prehashed" ? withRecord : QStringList{"cache/signature-time", "updater.log"});
    for (const auto &[signature, failure] : {std::pair{"unstated", "does not state its time, file and expiry."},
                                             {"datedexpiry", "does not state its time, file and expiry."},
                                             {"beta", "was made for updates-beta.json."}, {"expired", "expired at 2001-09-09T01:46:40Z."}})
        update(qPrintable(QString("signature, ") + signature), [signature = QString(signature)](const Sandbox &sandbox) {
            publishSigned(sandbox, "pinned", "pinned." + signature);
        }, signatureFetched + QStringList{signedByTestKey, QString("    FAILURE: signature of updates.json ") + failure}, {"updater.log"});
    update("signed manifest without SHA-256 and size",
           [](const Sandbox &sandbox) { publishSigned(sandbox, "unpinned", "unpinned"); },
           signatureFetched + QStringList{signedByTestKey, "Updates.json does not report SHA-256 hash and size for its package."},
           withRecord.mid(1));
    update("unsigned folder", [](const Sandbox &sandbox) { publishSigned(sandbox, "pinned"); },
           manifest + QStringList{"    Finished downloading MANIFEST bytes.",
                                  "Downloading REMOTE/pc/updates.json.minisig to LOCAL/updates/updates.json.minisig",
                                  "    ERROR: Cloud not store downloaded file.", checking, "    FAILURE: updates.json is not signed."},
           {"updater.log"});
    update("malformed signature", [](const Sandbox &sandbox) {
        publishSigned(sandbox, "pinned", "pinned.prehashed");
        sandbox.putRemote("updates.json.minisig", readFile(sandbox.remoteFolder() + "/pc/updates.json.minisig").replace('=', '.'));
    }, signatureFetched + QStringList{"    FAILURE: signature of updates.json is malformed."}, {"updater.log"});
    update("untrusted key", [](const Sandbox &sandbox) { publishSigned(sandbox, "pinned", "pinned.untrusted"); },
           signatureFetched + QStringList{"    FAILURE: updates.json is signed by key 437D8E6EB620830C, which is not trusted."},
           {"updater.log"});
    update("manifest changed after signing", [](const Sandbox &sandbox) {
        publishSigned(sandbox, "pinned", "pinned.prehashed");
        sandbox.putRemote("updates.json", readFile(sandbox.remoteFolder() + "/pc/updates.json") + ' ');
    }, signatureFetched + QStringList{"    FAILURE: signature of updates.json does not match."}, {"updater.log"});
#ifdef Q_OS_UNIX
    // Reading it would wait for a writer forever.
    update("FIFO as package", [](const Sandbox &sandbox) {
        sandbox.publish("app.zip", "new");
        QFile::remove(sandbox.remoteFolder() + "/pc/app.zip");
        mkfifo(QFile::encodeName(sandbox.remoteFolder() + "/pc/app.zip").constData(), 0600);
    }, offered.mid(0, offered.size() - 1) + QStringList{"    ERROR: REMOTE_FOLDER/pc/app.zip is not a regular file.", failed},
           withManifest);
#endif
    update("manifest larger than 1 MiB", [](const Sandbox &sandbox) {
        sandbox.putRemote("updates.json", R"({"md5": "abc", "os": "windows", "version": "3", "padding": ")" + QByteArray(1 << 20, ' ') + "\"}");
    }, manifest + QStringList{"    ERROR: updates.json is larger than 1048576 bytes.", "Could not open updates.json for reading"},
           {"updater.log"});
    update("waiting file, even empty, stops the run",
           [](const Sandbox &sandbox) { writeFile(sandbox.availableFolder() + "/anything.bin", ""); },
           start + QStringList{"Previously installed updates are yet to be installed."},
           {"available/anything.bin", "updater.log"});
    update("subfolder and unfinished downloads", [](const Sandbox &sandbox) {
        sandbox.publish("app.zip", "new");
        QDir().mkpath(sandbox.availableFolder() + "/leftover"); // which does not stop the run
        writeFile(sandbox.updatesFolder() + "/cache/download-Ab12Cd.part", "half"); // which is removed
        writeFile(sandbox.updatesFolder() + "/cache/notes.txt", "");
    }, installed, {"available/app.zip", "cache/notes.txt", "updater.log", "updates.json"});
    update("digest mismatch empties the available folder", [](const Sandbox &sandbox) {
        sandbox.publish("app.zip", "as published");
        sandbox.putRemote("app.zip", "damaged on the share");
        // Below a subfolder it does not stop the run, but a failure clears it.
        writeFile(sandbox.availableFolder() + "/older/part.bin", "left over");
    }, offered + QStringList{"    FAILURE: MD5 hash of downloaded file was " + md5Hex("damaged on the share")
                                     + ", which is distinct from the expected " + md5Hex("as published") + ".", failed},
           withManifest);
    // A copy from an earlier run must not be evaluated again.
    update("missing manifest", [](const Sandbox &sandbox) {
        writeFile(sandbox.updatesFolder() + "/updates.json", R"({"md5": "abc", "os": "windows", "version": "3", "package": "a"})");
    }, manifest + QStringList{"    ERROR: Cloud not store downloaded file.", "Could not open updates.json for reading"},
           {"updater.log"});

    const auto rule = [&](const char *name, const QByteArray &text, const QStringList &lines) {
        update(name, [text](const Sandbox &sandbox) { sandbox.putRemote("updates.json", text); },
               manifest + QStringList{"    Finished downloading MANIFEST bytes."} + lines, withManifest);
    };
    const QString older = "The most recent update has already been installed. No updates found.";
    const QString notWindows = "Target OS for the update is not compatible.";
    const QString noDigest = "Updates.json does not report MD5 hash for its package. Without MD5 hash, we cannot download updates!";
    QJsonParseError notJson;
    QJsonDocument::fromJson("this is no JSON", &notJson);
    rule("not JSON", "this is no JSON", {"Error parsing updates.json: " + notJson.errorString()});
    rule("array", "[1, 2]", {"No update information was found in updates.json"});
    rule("digest checked before os", R"({"os": "linux", "version": "3"})", {noDigest});
    rule("numeric digest", R"({"md5": 5, "os": "windows", "version": "3"})", {noDigest});
    rule("malformed sha256", R"({"md5": "abc", "sha256": "abc", "os": "linux"})", {"Updates.json reports a malformed sha256."});
    for (const char *size : {"\"3\"", "-1", "2.5"})
        rule(size, R"({"md5": "abc", "os": "linux", "size": )" + QByteArray(size) + "}", {"Updates.json reports a malformed size."});
    rule("os capitalised", R"({"md5": "abc", "os": "Windows", "version": "3"})", {notWindows});
    // A rule whose verdict is the same on every Windows and on no Windows at all.
    rule("or newer", R"({"md5": "abc", "os": "windows", "compatible_os_version": "7+", "version": "2.0.1"})",
         {"Checking if current OS is more recent or same as Windows-7",
          "Checking if version 2.0.1 is more recent than 2.0.1610051745", older});
    rule("same version", R"({"md5": "abc", "os": "windows", "version": "2.0.1610051745"})",
         {"Checking if version 2.0.1610051745 is more recent than 2.0.1610051745", older});
    rule("no package", R"({"md5": "abc", "os": "windows", "compatible_os_version": "any", "version": "2.x"})",
         {"Checking if version 2.x is more recent than 2.0.1610051745"});
    rule("escaping package", "{\"md5\": \"" + md5Hex("payload") + R"(", "os": "windows", "version": "3", "package": "../../escaped.zip"})",
         {"Checking if version 3 is more recent than 2.0.1610051745", "    ERROR: Package name ../../escaped.zip is not allowed.", failed});

    const QByteArray package(300000, 'p');
    QStringList overHttp = offered;
    overHttp.insert(start.size() + 2, "    [100 %] Downloaded MANIFEST / MANIFEST bytes");
    overHttp.insert(overHttp.size() - 1, "    [100 %] Downloaded 300000 / 300000 bytes");
    for (const char *server : {"http", "http via proxy"})
        update(server, [package](const Sandbox &sandbox) { sandbox.publish("app.zip", package); },
               overHttp + QStringList{"    SUCCESS: MD5 hash of downloaded file is " + md5Hex(package) + ", as expected.",
                                      "    Finished downloading 300000 bytes."}, withApp, server);
    const auto refused = [&](const char *name, const QStringList &errors, const QString &server) {
        update(name, [](const Sandbox &sandbox) { sandbox.publish("app.zip", "new"); },
               manifest + errors + QStringList{"Could not open updates.json for reading"}, {"updater.log"}, server);
    };
    const QStringList selfSigned{"    TLS ERROR: The certificate is self-signed, and untrusted", "    ERROR: (6) SSL handshake failed"};
    refused("self-signed https", selfSigned, "https");
    // Through the proxy's tunnel the updater still checks the server's own certificate.
    refused("self-signed https through a proxy", selfSigned, "https via proxy");
    refused("proxy that wants credentials", {"    ERROR: (105) Proxy requires authentication"}, "http via credentials proxy");
    // The request is not sent around a proxy that does not answer.
    refused("dead proxy", {"    ERROR: (1) Connection refused"}, "http via dead proxy");
}

void UpdateRunTest::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(Setup, setup);
    QFETCH(QString, server);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QStringList, log);
    QFETCH(QStringList, files);
    const QString proxy = server.section(" via ", 1);
#ifdef Q_OS_WIN
    if (!proxy.isEmpty())
        QSKIP("Windows takes its proxy from the Internet Options, not from the environment");
#endif

    Sandbox sandbox;
    setup(sandbox);
    // Qt sends nothing for the loopback address through a proxy; the proxy looks up the name.
    const QString remote = server == "file without drive letter"
            ? sandbox.remoteUrl().replace(QRegularExpression("^file:///[A-Za-z]:/"), "file:///")
            : sandbox.remoteUrl(server.section(' ', 0, 0), proxy.isEmpty() ? QStringLiteral("127.0.0.1") : QHostInfo::localHostName());
    QVERIFY(!remote.isEmpty());
    // Port 1 on loopback: a proxy that does not answer.
    const QString proxyUrl = proxy.isEmpty() ? QString()
            : "http://127.0.0.1:" + (proxy == "dead proxy" ? QStringLiteral("1") : testServer(QString(proxy).replace(' ', '-')));
    qputenv("http_proxy", proxyUrl.toLatin1()); // empty: none
    qputenv("https_proxy", proxyUrl.toLatin1());
    log.replaceInStrings("REMOTE_FOLDER", sandbox.remoteFolder());
    for (QStringList *texts : {&arguments, &log})
        texts->replaceInStrings("LOCAL", sandbox.localFolder()).replaceInStrings("REMOTE", remote);
    log.replaceInStrings("MANIFEST", QString::number(QFileInfo(sandbox.remoteFolder() + "/pc/updates.json").size()));
    log.replaceInStrings("SIGNATURE", QString::number(QFileInfo(sandbox.remoteFolder() + "/pc/updates.json.minisig").size()));
    output.replace("LOCAL", sandbox.localFolder());

    const bool trustsTestKey = log.contains("Verifying signature of updates.json ...");
    const Sandbox::Result result = sandbox.run(arguments, trustsTestKey ? SIGNING_UPDATER_EXECUTABLE : UPDATER_EXECUTABLE);
    if (proxy == "proxy")
        QVERIFY(testServerFile("proxy.log").contains(server.startsWith("https") ? "CONNECT " + QUrl(remote).authority().toLatin1()
                                                                    : "GET " + remote.toLatin1() + "/pc/app.zip"));
    QCOMPARE(result.exitCode, exitCode);
    if (output.isEmpty() || output.endsWith('\n'))
        QCOMPARE(QString::fromLocal8Bit(result.output), output);
    else
        QVERIFY2(QString::fromLocal8Bit(result.output).contains(output), result.output);
    QCOMPARE(sandbox.logLines(), log);
    QCOMPARE(filesBelow(sandbox.updatesFolder()), files);
    // Once there is an updates folder, its available and cache folders stay, emptied or not.
    QCOMPARE(QFileInfo::exists(sandbox.updatesFolder()), !files.isEmpty());
    QCOMPARE(QFileInfo(sandbox.availableFolder()).isDir() && QFileInfo(sandbox.updatesFolder() + "/cache").isDir(), !files.isEmpty());
    // A package is the published one, and readable by whoever installs it.
    for (const QString &name : QDir(sandbox.availableFolder()).entryList(QDir::Files)) {
        QCOMPARE(readFile(sandbox.availableFolder() + '/' + name), readFile(sandbox.remoteFolder() + "/pc/" + name));
        QVERIFY(QFileInfo(sandbox.availableFolder() + '/' + name).permission(QFile::ReadOther));
    }
    // Nothing a manifest names reaches outside the available folder.
    QVERIFY(!QFileInfo::exists(sandbox.localFolder() + "/escaped.zip"));
    // The lock file and the control channel, a socket file, go with the process, whatever the outcome.
    QCOMPARE(QDir(sandbox.temporaryFolder()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

// After a power cut the available folder holds the whole package or nothing: the
// staged bytes reach the disk before the rename, and the folder entry after it.
void UpdateRunTest::placementReachesDisk()
{
    Sandbox sandbox;
    sandbox.publish("app.zip", "new");
    const QString trace = sandbox.path("strace.txt");
    // A leak check cannot work under ptrace, and would only report that.
    qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":detect_leaks=0");
    const Sandbox::Result result = sandbox.run(QStringList{"-f", "-y", "-o", trace, "-e", "trace=fsync,fdatasync,rename",
                                                           UPDATER_EXECUTABLE} + sandbox.arguments(), "strace");
    if (result.exitCode != 0 || filesBelow(sandbox.availableFolder()) != QStringList{"app.zip"})
        QSKIP("strace cannot trace the updater here");
    const QStringList calls = QString::fromLocal8Bit(readFile(trace)).split('\n');
    const int rename = calls.indexOf(QRegularExpression(".*rename\\(\"[^\"]*/cache/download-[^\"]*\", \"[^\"]*/available/app\\.zip\"\\) = 0"));
    QVERIFY2(rename > 0, qPrintable(calls.join('\n')));
    const QString staged = calls[rename].section('"', 1, 1);
    const int sync = calls.indexOf(QRegularExpression(".*fdatasync\\(\\d+<" + QRegularExpression::escape(staged) + ">\\) = 0"));
    const int folderSync = calls.indexOf(QRegularExpression(".*fsync\\(\\d+<" + QRegularExpression::escape(sandbox.availableFolder()) + ">\\) = 0"), rename);
    QVERIFY2(sync >= 0 && sync < rename && folderSync > rename, qPrintable(calls.join('\n')));
}

void UpdateRunTest::resume_data()
{
    QTest::addColumn<QString>("meanwhile"); // what becomes of the package or of the kept part between the runs
    QTest::addColumn<QByteArray>("access"); // nginx's status and body size for the next run's package request
    QTest::newRow("the rest is fetched") << QString() << QByteArray("206 REST");
    QTest::newRow("package changed on the server") << "touched" << QByteArray("200 1000000");
    QTest::newRow("kept part damaged") << "damaged" << QByteArray("206 REST");
}

// A run killed amid the package leaves what it received; the next asks only for the rest, if unchanged.
void UpdateRunTest::resume()
{
    QFETCH(QString, meanwhile);
    QFETCH(QByteArray, access);
    Sandbox sandbox;
    const QByteArray package(1000000, 'p');
    sandbox.publish("package.zip", package);
    const QString remote = sandbox.remoteUrl("slow");
    // What nginx's access log says of the last request for the package: status and body size.
    const auto lastAccess = [uri = QUrl(remote).path().toUtf8() + "/pc/package.zip "] {
        const QByteArray log = testServerFile("access.log");
        return log.mid(log.lastIndexOf(uri) + uri.size()).split('\n').first();
    };
    const QString part = sandbox.updatesFolder() + "/cache/package.partial";
    QProcess killed;
    sandbox.start(killed, sandbox.arguments(remote));
    QVERIFY(QTest::qWaitFor([&part] { return QFileInfo(part).size() > 100000; }, 20000));
    killed.kill();
    QVERIFY(killed.waitForFinished());
    const qint64 kept = QFileInfo(part).size();
    QFile changed(meanwhile == "touched" ? sandbox.remoteFolder() + "/pc/package.zip" : part);
    QVERIFY(changed.open(QIODevice::ReadWrite));
    if (meanwhile == "touched") // which gives it a new ETag
        QVERIFY(changed.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    if (meanwhile == "damaged")
        QVERIFY(changed.putChar('!'));
    changed.close();

    const int logged = sandbox.logBytes().size();
    QCOMPARE(sandbox.run(sandbox.arguments(remote)).exitCode, 0);
    const QByteArray log = sandbox.logBytes().mid(logged);
    QVERIFY(log.contains("    Resuming at " + QByteArray::number(kept) + " bytes.\n"));
    // Progress counts the whole package, kept bytes included.
    QVERIFY(log.contains("    [100 %] Downloaded 1000000 / 1000000 bytes\n    Verifying downloaded file ...\n"));
    QCOMPARE(log.contains("    FAILURE: MD5 hash"), meanwhile == "damaged");
    QCOMPARE(lastAccess(), access.replace("REST", QByteArray::number(1000000 - kept)));
    QCOMPARE(filesBelow(sandbox.updatesFolder() + "/cache"), QStringList());
    if (meanwhile == "damaged") {
        // Not resumed again: the run after starts over.
        QCOMPARE(sandbox.run(sandbox.arguments(remote)).exitCode, 0);
        QCOMPARE(lastAccess(), QByteArray("200 1000000"));
    }
    QCOMPARE(readFile(sandbox.availableFolder() + "/package.zip"), package);
}

void UpdateRunTest::windowsVersion_data()
{
    QTest::addColumn<QString>("rule"); // which names the Windows that wine presents, the row's name
    QTest::newRow("win7") << "7";
    QTest::newRow("win8") << "8";
    QTest::newRow("win81") << "8.1";
    QTest::newRow("win10") << "10";
}

// With wine presenting each Windows in turn, the updater finds the rank its rule alone admits.
void UpdateRunTest::windowsVersion()
{
    QFETCH(QString, rule);
    QSettings wine("HKEY_CURRENT_USER\\Software\\Wine", QSettings::NativeFormat);
    if (!wine.childGroups().contains("Drivers"))
        QSKIP("The Windows version is set through wine");
    // Wine presents a version per program name: a copy of its own leaves other tests' runs alone.
    Sandbox sandbox;
    const QString program = QStringLiteral("updater-%1.exe").arg(QTest::currentDataTag());
    QVERIFY(QFile::copy(UPDATER_EXECUTABLE, sandbox.path(program)));
    wine.setValue("AppDefaults/" + program + "/Version", QTest::currentDataTag());
    wine.sync();
    sandbox.putRemote("updates.json", R"({"md5": "abc", "os": "windows", "version": "2.1", "compatible_os_version": ")"
                                              + rule.toLatin1() + "\"}");
    QCOMPARE(sandbox.run(sandbox.arguments(), sandbox.path(program)).exitCode, 0);
    wine.remove("AppDefaults/" + program);
    const QStringList lines = sandbox.logLines().mid(sandbox.logLines().size() - 2);
    QCOMPARE(lines, (QStringList{"Checking if current OS is same as Windows-" + rule,
                                 "Checking if version 2.1 is more recent than 2.0.1610051745"}));
    qInfo("%s: %s", QTest::currentDataTag(), qUtf8Printable(lines.join(" / ")));
}

QTEST_GUILESS_MAIN(UpdateRunTest)
#include "tst_updaterun.moc"
