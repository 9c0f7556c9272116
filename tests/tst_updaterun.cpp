#include "support/sandbox.h"

#include <QtTest>

#include <functional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {
// Prepares the remote folder and the local one before a run.
using Setup = std::function<void(const Sandbox &)>;

void replacePlaceholders(QStringList &lines, const Sandbox &sandbox)
{
    lines.replaceInStrings("{remote}", sandbox.remoteUrl());
    lines.replaceInStrings("{updates}", sandbox.updatesFolder());
    lines.replaceInStrings("{remoteFolder}", sandbox.remoteFolder());
    lines.replaceInStrings("{manifestSize}", QString::number(QFileInfo(sandbox.remoteFolder() + "/pc/updates.json").size()));
    lines.replaceInStrings("{signatureSize}", QString::number(QFileInfo(sandbox.remoteFolder() + "/pc/updates.json.minisig").size()));
}

QString sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Offers "new" as app.zip with its SHA-256 and size, keys replaced by those given, and
// signs the manifest with the test key when minisign options are given ("-l": the
// algorithm that signs the bytes themselves, not their BLAKE2b-512).
// Whether minisign signed the last manifest it was asked to: under wine, which runs no
// Linux program as a child of a test, it cannot.
bool manifestSigned = true;

void signManifest(const Sandbox &sandbox, const QStringList &options = {})
{
    manifestSigned = QProcess::execute("minisign", QStringList{"-S", "-s", TEST_SECRET_KEY, "-m",
                                                               sandbox.remoteFolder() + "/pc/updates.json"} + options) == 0;
}

void publishPinned(const Sandbox &sandbox, const QJsonObject &keys, const QStringList &minisignOptions = {})
{
    sandbox.putRemote("app.zip", "new");
    QJsonObject offer{{"md5", QString(md5Hex("new"))}, {"sha256", sha256Hex("new")}, {"size", 3},
                      {"os", "windows"}, {"version", "2.1"}, {"package", "app.zip"}};
    for (auto key = keys.begin(); key != keys.end(); ++key)
        offer.insert(key.key(), key.value());
    sandbox.putRemote("updates.json", QJsonDocument(offer).toJson());
    if (!minisignOptions.isEmpty())
        signManifest(sandbox, minisignOptions.mid(1));
}
}
Q_DECLARE_METATYPE(Setup)

// Whole update runs of the built updater against a folder reached through a file URL.
class UpdateRunTest : public QObject
{
    Q_OBJECT

private slots:
    void installsNewerPackage_data();
    void installsNewerPackage();
    void run_data();
    void run();
    void placementReachesDisk();
};

void UpdateRunTest::installsNewerPackage_data()
{
    QTest::addColumn<bool>("withDrive");
    QTest::newRow("file URL") << true;
    // Windows takes a path without a drive letter on the current drive.
    QTest::newRow("file URL without drive letter") << false;
}

void UpdateRunTest::installsNewerPackage()
{
    QFETCH(bool, withDrive);
    Sandbox sandbox;
    const QByteArray package(200000, 'p');
    const QByteArray digest = sandbox.publish("app-2.1.zip", package);
    const QString remote = withDrive ? sandbox.remoteUrl()
                                     : sandbox.remoteUrl().replace(QRegularExpression("^file:///[A-Za-z]:/"), "file:///");

    QCOMPARE(sandbox.run(sandbox.arguments(remote)).exitCode, 0);
    QStringList expected{"No update was already downloaded.",
                         "Downloading {remote}/pc/updates.json to {updates}/updates.json",
                         "    Finished downloading {manifestSize} bytes.",
                         "Checking if version 2.1 is more recent than 2.0.1610051745",
                         "Downloading {remote}/pc/app-2.1.zip to {updates}/available/app-2.1.zip",
                         "    Verifying downloaded file ...",
                         "    SUCCESS: MD5 hash of downloaded file is " + digest + ", as expected.",
                         "    Finished downloading 200000 bytes."};
    expected.replaceInStrings("{remote}", remote);
    replacePlaceholders(expected, sandbox);
    QCOMPARE(sandbox.logLines(), startLines(sandbox, remote) + expected);
    QCOMPARE(filesBelow(sandbox.updatesFolder()), (QStringList{"available/app-2.1.zip", "updater.log", "updates.json"}));
    QCOMPARE(readFile(sandbox.availableFolder() + "/app-2.1.zip"), package);

    // The log grows across runs, and the waiting package latches every later run
    // until an installer takes it away.
    const QByteArray firstLog = sandbox.logBytes();
    QCOMPARE(sandbox.run(sandbox.arguments(remote)).exitCode, 0);
    QVERIFY(sandbox.logBytes().startsWith(firstLog));
    const QStringList secondRun = QString::fromLatin1(sandbox.logBytes().mid(firstLog.size()))
            .split('\n', Qt::SkipEmptyParts).mid(2);
    QCOMPARE(secondRun, startLines(sandbox, remote)
             + QStringList{"Previously installed updates are yet to be installed."});
    QCOMPARE(sandbox.availableFiles(), QStringList{"app-2.1.zip"});
}

void UpdateRunTest::run_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QStringList>("lines"); // after the start lines
    QTest::addColumn<QStringList>("files"); // below the updates folder afterwards

    const QStringList manifest{"No update was already downloaded.",
                               "Downloading {remote}/pc/updates.json to {updates}/updates.json"};
    const QStringList offered = manifest + QStringList{"    Finished downloading {manifestSize} bytes.",
                                                       "Checking if version 2.1 is more recent than 2.0.1610051745"};
    const QString downloadingApp = QStringLiteral("Downloading {remote}/pc/app.zip to {updates}/available/app.zip");
    const QString verifying = QStringLiteral("    Verifying downloaded file ...");
    const QString verified = "    SUCCESS: MD5 hash of downloaded file is " + md5Hex("new") + ", as expected.";
    const QString failed = QStringLiteral("    Updates could not be downloaded properly. "
                                          "Deleting partially downloaded files to try again.");
    const QStringList installed = offered + QStringList{downloadingApp, verifying, verified,
                                                        "    Finished downloading 3 bytes."};
    const QStringList withApp{"available/app.zip", "updater.log", "updates.json"};
    const QStringList withManifest{"updater.log", "updates.json"};
    const QString shaVerified = "    SUCCESS: SHA-256 hash of downloaded file is " + sha256Hex("new") + ", as expected.";

    // A build that trusts no key takes a signed folder as before, and checks SHA-256 and size.
    QTest::newRow("signed folder, no trusted key")
            << Setup([](const Sandbox &sandbox) { publishPinned(sandbox, {}, {"sign"}); })
            << offered + QStringList{downloadingApp, verifying, verified, shaVerified, "    Finished downloading 3 bytes."}
            << withApp;
    QTest::newRow("SHA-256 differs")
            << Setup([](const Sandbox &sandbox) { publishPinned(sandbox, {{"sha256", QString(64, 'A')}}); })
            << offered + QStringList{downloadingApp, verifying, verified, "    FAILURE: SHA-256 hash of downloaded file was "
                                     + sha256Hex("new") + ", which is distinct from the expected " + QString(64, 'A') + ".", failed}
            << withManifest;
    QTest::newRow("longer than its size")
            << Setup([](const Sandbox &sandbox) { publishPinned(sandbox, {{"size", 2}}); })
            << offered + QStringList{downloadingApp, "    ERROR: Received more than the 2 bytes that updates.json announces.", failed}
            << withManifest;
    QTest::newRow("shorter than its size")
            << Setup([](const Sandbox &sandbox) { publishPinned(sandbox, {{"size", 4}}); })
            << offered + QStringList{downloadingApp, "    ERROR: Received 3 of 4 bytes.", failed} << withManifest;

    // Rows that verify a signature run the updater built to trust the test key.
    const QString checking = QStringLiteral("Verifying signature of updates.json ...");
    const QStringList signatureFetched = manifest + QStringList{
            "    Finished downloading {manifestSize} bytes.",
            "Downloading {remote}/pc/updates.json.minisig to {updates}/updates.json.minisig",
            "    Finished downloading {signatureSize} bytes.", checking};
    const QString signedByTestKey = QStringLiteral("    SUCCESS: updates.json is signed by key " TEST_KEY_ID ".");
    for (const QStringList &options : {QStringList{"sign"}, QStringList{"sign", "-l"}}) {
        QTest::newRow(qPrintable("signed folder " + options.join(' ')))
                << Setup([options](const Sandbox &sandbox) { publishPinned(sandbox, {}, options); })
                << signatureFetched + QStringList{signedByTestKey, "Checking if version 2.1 is more recent than 2.0.1610051745",
                                                  downloadingApp, verifying, verified, shaVerified, "    Finished downloading 3 bytes."}
                << withApp + QStringList{"updates.json.minisig"};
    }
    QTest::newRow("signed manifest without SHA-256 and size")
            << Setup([](const Sandbox &sandbox) {
                   sandbox.publish("app.zip", "new");
                   signManifest(sandbox);
               })
            << signatureFetched + QStringList{signedByTestKey, "Updates.json does not report SHA-256 hash and size for its package."}
            << withManifest + QStringList{"updates.json.minisig"};
    QTest::newRow("unsigned folder")
            << Setup([](const Sandbox &sandbox) { publishPinned(sandbox, {}); })
            << manifest + QStringList{"    Finished downloading {manifestSize} bytes.",
                                      "Downloading {remote}/pc/updates.json.minisig to {updates}/updates.json.minisig",
                                      "    ERROR: Cloud not store downloaded file.", checking,
                                      "    FAILURE: updates.json is not signed."}
            << QStringList{"updater.log"};
    QTest::newRow("malformed signature")
            << Setup([](const Sandbox &sandbox) {
                   publishPinned(sandbox, {}, {"sign"});
                   sandbox.putRemote("updates.json.minisig", readFile(sandbox.remoteFolder() + "/pc/updates.json.minisig").replace('=', '.'));
               })
            << signatureFetched + QStringList{"    FAILURE: signature of updates.json is malformed."} << QStringList{"updater.log"};
    QTest::newRow("untrusted key")
            << Setup([](const Sandbox &sandbox) {
                   publishPinned(sandbox, {}, {"sign"});
                   if (!manifestSigned)
                       return;
                   QList<QByteArray> lines = readFile(sandbox.remoteFolder() + "/pc/updates.json.minisig").split('\n');
                   QCOMPARE(lines.size(), 5);
                   lines[1] = QByteArray::fromBase64(lines[1]).replace(2, 8, "\x01\x02\x03\x04\x05\x06\x07\x08").toBase64();
                   sandbox.putRemote("updates.json.minisig", lines.join('\n'));
               })
            << signatureFetched + QStringList{"    FAILURE: updates.json is signed by key 0807060504030201, which is not trusted."}
            << QStringList{"updater.log"};
    QTest::newRow("manifest changed after signing")
            << Setup([](const Sandbox &sandbox) {
                   publishPinned(sandbox, {}, {"sign"});
                   sandbox.putRemote("updates.json", readFile(sandbox.remoteFolder() + "/pc/updates.json") + ' ');
               })
            << signatureFetched + QStringList{"    FAILURE: signature of updates.json does not match."} << QStringList{"updater.log"};

    QTest::newRow("waiting file, even empty, stops the run")
            << Setup([](const Sandbox &sandbox) { writeFile(sandbox.availableFolder() + "/anything.bin", ""); })
            << QStringList{"Previously installed updates are yet to be installed."}
            << QStringList{"available/anything.bin", "updater.log"};
    QTest::newRow("subfolder does not stop the run")
            << Setup([](const Sandbox &sandbox) {
                   sandbox.publish("app.zip", "new");
                   QDir().mkpath(sandbox.availableFolder() + "/leftover");
               }) << installed << withApp;
    QTest::newRow("unfinished downloads are removed")
            << Setup([](const Sandbox &sandbox) {
                   sandbox.publish("app.zip", "new");
                   writeFile(sandbox.updatesFolder() + "/cache/download-Ab12Cd.part", "half");
                   writeFile(sandbox.updatesFolder() + "/cache/notes.txt", "");
               }) << installed << QStringList{"available/app.zip", "cache/notes.txt", "updater.log", "updates.json"};
    QTest::newRow("digest mismatch empties the available folder")
            << Setup([](const Sandbox &sandbox) {
                   sandbox.publish("app.zip", "as published");
                   sandbox.putRemote("app.zip", "damaged on the share");
                   // Below a subfolder it does not stop the run, but a failure clears it.
                   writeFile(sandbox.availableFolder() + "/older/part.bin", "left over");
               })
            << offered + QStringList{downloadingApp, verifying,
                                     "    FAILURE: MD5 hash of downloaded file was " + md5Hex("damaged on the share")
                                             + ", which is distinct from the expected " + md5Hex("as published") + ".",
                                     failed}
            << withManifest;
    // A file where the available folder belongs cannot take a package, whoever runs the test.
    QTest::newRow("available folder not writable")
            << Setup([](const Sandbox &sandbox) {
                   sandbox.publish("app.zip", "new");
                   writeFile(sandbox.availableFolder(), "not a folder");
               })
            << offered + QStringList{downloadingApp, verifying, verified, "    ERROR: Cloud not store downloaded file.", failed}
            << QStringList{"available", "updater.log", "updates.json"};
#ifdef Q_OS_UNIX
    // Reading it would wait for a writer forever.
    QTest::newRow("FIFO as package")
            << Setup([](const Sandbox &sandbox) {
                   sandbox.publish("app.zip", "new");
                   QFile::remove(sandbox.remoteFolder() + "/pc/app.zip");
                   mkfifo(QFile::encodeName(sandbox.remoteFolder() + "/pc/app.zip").constData(), 0600);
               })
            << offered + QStringList{downloadingApp, "    ERROR: {remoteFolder}/pc/app.zip is not a regular file.", failed}
            << withManifest;
#endif
    QTest::newRow("manifest larger than 1 MiB")
            << Setup([](const Sandbox &sandbox) {
                   sandbox.putRemote("updates.json", R"({"md5": "abc", "os": "windows", "version": "3", "padding": ")"
                                                             + QByteArray(1 << 20, ' ') + "\"}");
               })
            << manifest + QStringList{"    ERROR: updates.json is larger than 1048576 bytes.",
                                      "Could not open updates.json for reading"}
            << QStringList{"updater.log"};
    // A copy from an earlier run must not be evaluated again.
    QTest::newRow("missing manifest")
            << Setup([](const Sandbox &sandbox) {
                   writeFile(sandbox.updatesFolder() + "/updates.json",
                             R"({"md5": "abc", "os": "windows", "version": "3", "package": "old.zip"})");
               })
            << manifest + QStringList{"    ERROR: Cloud not store downloaded file.", "Could not open updates.json for reading"}
            << QStringList{"updater.log"};
    for (const char *name : {"../../escaped.zip", "/tmp/escaped.zip", "..\\escaped.zip", "C:escaped.zip"}) {
        QTest::newRow(name) << Setup([name](const Sandbox &sandbox) {
            sandbox.putRemote("escaped.zip", "payload");
            const QJsonObject offer{{"md5", QString::fromLatin1(md5Hex("payload"))}, {"os", "windows"},
                                    {"version", "3"}, {"package", name}};
            sandbox.putRemote("updates.json", QJsonDocument(offer).toJson());
        }) << manifest + QStringList{"    Finished downloading {manifestSize} bytes.",
                                     "Checking if version 3 is more recent than 2.0.1610051745",
                                     "    ERROR: Package name " + QString::fromLatin1(name) + " is not allowed.", failed}
           << withManifest;
    }

    const auto rule = [manifest, withManifest](const char *name, const QByteArray &text, const QStringList &lines) {
        QTest::newRow(name) << Setup([text](const Sandbox &sandbox) { sandbox.putRemote("updates.json", text); })
                            << manifest + QStringList{QStringLiteral("    Finished downloading %1 bytes.").arg(text.size())}
                                       + lines
                            << withManifest;
    };
    const QString older = "The most recent update has already been installed. No updates found.";
    const QString notWindows = "Target OS for the update is not compatible.";
    const QString noDigest = "Updates.json does not report MD5 hash for its package. Without MD5 hash, we cannot download updates!";
    QJsonParseError notJson;
    QJsonDocument::fromJson("this is no JSON", &notJson);
    QJsonParseError emptyFile;
    QJsonDocument::fromJson("", &emptyFile);
    rule("not JSON", "this is no JSON", {"Error parsing updates.json: " + notJson.errorString()});
    rule("empty file", "", {"Error parsing updates.json: " + emptyFile.errorString()});
    rule("array", "[1, 2]", {"No update information was found in updates.json"});
    rule("empty object", "{}", {"No update information was found in updates.json"});
    rule("digest checked before os", R"({"os": "linux", "version": "3"})", {noDigest});
    rule("numeric digest", R"({"md5": 5, "os": "windows", "version": "3"})", {noDigest});
    rule("malformed sha256", R"({"md5": "abc", "sha256": "abc", "os": "linux"})", {"Updates.json reports a malformed sha256."});
    rule("size as text", R"({"md5": "abc", "size": "3", "os": "linux"})", {"Updates.json reports a malformed size."});
    rule("negative size", R"({"md5": "abc", "size": -1, "os": "linux"})", {"Updates.json reports a malformed size."});
    rule("fractional size", R"({"md5": "abc", "size": 2.5, "os": "linux"})", {"Updates.json reports a malformed size."});
    rule("os absent", R"({"md5": "abc", "version": "3"})", {notWindows});
    rule("os capitalised", R"({"md5": "abc", "os": "Windows", "version": "3"})", {notWindows});
    // Rules whose verdict is the same on every Windows and on no Windows at all.
    rule("os version rule", R"({"md5": "abc", "os": "windows", "compatible_os_version": "Vista", "version": "3"})",
         {"Checking if current OS is same as Windows-vista", "Target OS Version is not compatible."});
    rule("or newer", R"({"md5": "abc", "os": "windows", "compatible_os_version": "7+", "version": "2.0.1"})",
         {"Checking if current OS is more recent or same as Windows-7",
          "Checking if version 2.0.1 is more recent than 2.0.1610051745", older});
    rule("same version", R"({"md5": "abc", "os": "windows", "version": "2.0.1610051745"})",
         {"Checking if version 2.0.1610051745 is more recent than 2.0.1610051745", older});
    rule("numeric version", R"({"md5": "abc", "os": "windows", "version": 3})",
         {"Checking if version  is more recent than 2.0.1610051745", older});
    rule("no package", R"({"md5": "abc", "os": "windows", "compatible_os_version": "any", "version": "2.x"})",
         {"Checking if version 2.x is more recent than 2.0.1610051745"});
}

void UpdateRunTest::run()
{
    QFETCH(Setup, setup);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, files);

    Sandbox sandbox;
    manifestSigned = true;
    setup(sandbox);
    if (!manifestSigned) {
#ifdef Q_OS_WIN
        QSKIP("minisign is a Linux program, which wine cannot run for a test");
#else
        QFAIL("minisign could not sign the manifest");
#endif
    }
    const bool trustsTestKey = lines.contains("Verifying signature of updates.json ...");
    QCOMPARE(sandbox.run(sandbox.arguments(), trustsTestKey ? SIGNING_UPDATER_EXECUTABLE : UPDATER_EXECUTABLE).exitCode, 0);
    replacePlaceholders(lines, sandbox);
    QCOMPARE(sandbox.logLines(), startLines(sandbox, sandbox.remoteUrl()) + lines);
    QCOMPARE(filesBelow(sandbox.updatesFolder()), files);
    // Nothing a manifest names reaches outside the available folder.
    QVERIFY(!QFileInfo::exists(sandbox.localFolder() + "/escaped.zip"));
    QVERIFY(!QFileInfo::exists("/tmp/escaped.zip"));
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
    // What QSKIP does; with a single argument it trips clang's -Wpedantic.
    if (result.exitCode != 0 || sandbox.availableFiles() != QStringList{"app.zip"}) {
        QTest::qSkip(qPrintable("strace cannot trace the updater here: " + result.standardError), __FILE__, __LINE__);
        return;
    }
    const QStringList calls = QString::fromLocal8Bit(readFile(trace)).split('\n');
    const int rename = calls.indexOf(QRegularExpression(".*rename\\(\"[^\"]*/cache/download-[^\"]*\", \"[^\"]*/available/app\\.zip\"\\) = 0"));
    QVERIFY2(rename > 0, qPrintable(calls.join('\n')));
    const QString staged = calls[rename].section('"', 1, 1);
    const int sync = calls.indexOf(QRegularExpression(".*fdatasync\\(\\d+<" + QRegularExpression::escape(staged) + ">\\) = 0"));
    const int folderSync = calls.indexOf(QRegularExpression(".*fsync\\(\\d+<" + QRegularExpression::escape(sandbox.availableFolder()) + ">\\) = 0"), rename);
    QVERIFY2(sync >= 0 && sync < rename && folderSync > rename, qPrintable(calls.join('\n')));
}

QTEST_GUILESS_MAIN(UpdateRunTest)
#include "tst_updaterun.moc"
