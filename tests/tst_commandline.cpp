#include "support/sandbox.h"

#include <QtTest>

// Every outcome of the command line, from a process that owns the instance lock.
class CommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void outcome_data();
    void outcome();
};

void CommandLineTest::outcome_data()
{
    // In arguments, LOCAL stands for the sandbox's local folder and REMOTE for its file URL.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("standardError");
    QTest::addColumn<QString>("standardOutput"); // a text the output must contain
    QTest::addColumn<QStringList>("log");         // empty: no updates folder at all

    const QStringList noFolder;
    QTest::newRow("no arguments") << QStringList() << 2 << "Local path for updater not set.\n" << "" << noFolder;
    QTest::newRow("remote only") << QStringList{"--remotePath", "REMOTE"} << 2
                                 << "Local path for updater not set.\n" << "" << noFolder;
    QTest::newRow("local only") << QStringList{"--localPath", "LOCAL"} << 2
                                << "Remote path for updater not set.\n" << "" << noFolder;
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 1
                                    << "Cannot parse arguments: Unknown option 'bogus'.\n" << "" << noFolder;
    QTest::newRow("missing value") << QStringList{"--localPath"} << 1
                                   << "Cannot parse arguments: Missing value after '--localPath'.\n" << "" << noFolder;
    QTest::newRow("shutdown with paths") << QStringList{"--shutdown", "--localPath", "LOCAL", "--remotePath", "REMOTE"}
                                         << 0 << "" << "" << noFolder;
    QTest::newRow("shutdown wins over help") << QStringList{"--shutdown", "--help"} << 0 << "" << "" << noFolder;
    QTest::newRow("parse error wins over help") << QStringList{"--help", "--bogusless"} << 1
                          << "Cannot parse arguments: Unknown option 'bogusless'.\n" << "" << noFolder;
    QTest::newRow("help text") << QStringList{"--help"} << 0 << ""
                               << "Software updater for Orvella Pelmara." << noFolder;
    QTest::newRow("help wins over version") << QStringList{"--version", "--help"} << 0 << ""
                             << "Software updater for Orvella Pelmara." << noFolder;
    QTest::newRow("version text") << QStringList{"--version"} << 0 << ""
                                  << "Software Updater 2.0.1610051745" << noFolder;
    QTest::newRow("local folder missing") << QStringList{"--localPath", "LOCAL/nowhere", "--remotePath", "REMOTE"}
                                          << 0 << "Local path (LOCAL/nowhere) doesnt exist.\n" << "" << noFolder;
    QTest::newRow("ftp") << QStringList{"--localPath", "LOCAL", "--remotePath", "ftp://127.0.0.1/x"} << 0 << "" << ""
                         << QStringList{"Unsupported protocol used for remote path ftp. Supported protocols are http,https,file"};
    QTest::newRow("no scheme") << QStringList{"--localPath", "LOCAL", "--remotePath", "folder"} << 0 << "" << ""
                               << QStringList{"Unsupported protocol used for remote path . Supported protocols are http,https,file"};
    // Followed by "/pc/", each would read as the host "pc" (a share on Windows for file).
    for (const char *remote : {"http:/", "https:/", "file:/"})
        QTest::newRow(remote) << QStringList{"--localPath", "LOCAL", "--remotePath", remote} << 0 << "" << ""
                              << QStringList{QStringLiteral("Remote path %1 is not valid").arg(QLatin1String(remote))};
    QTest::newRow("empty remote") << QStringList{"--localPath", "LOCAL", "--remotePath", ""} << 0 << "" << ""
                                  << QStringList{"Remote path  is not valid"};
}

void CommandLineTest::outcome()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, standardError);
    QFETCH(QString, standardOutput);
    QFETCH(QStringList, log);

    Sandbox sandbox;
    QVERIFY(sandbox.isValid());
    for (QString &argument : arguments)
        argument.replace(QLatin1String("LOCAL"), sandbox.localFolder()).replace(QLatin1String("REMOTE"), sandbox.remoteUrl());
    standardError.replace(QLatin1String("LOCAL"), sandbox.localFolder());

    const Sandbox::Result result = sandbox.run(arguments);
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, exitCode);
    // Windows ends the lines of standard error with "\r\n".
    QCOMPARE(QString::fromLocal8Bit(result.standardError).replace(QLatin1String("\r\n"), QLatin1String("\n")),
             standardError);
    QVERIFY2(QString::fromLocal8Bit(result.standardOutput).contains(standardOutput), result.standardOutput);
    // The lock file and the control channel go with the process, whatever the outcome.
    QCOMPARE(QDir(sandbox.temporaryFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    if (log.isEmpty()) {
        QVERIFY(!QFileInfo::exists(sandbox.updatesFolder()));
    } else {
        QCOMPARE(sandbox.logLines(), log);
        QVERIFY(QFileInfo(sandbox.availableFolder()).isDir());
        QVERIFY(QFileInfo(sandbox.updatesFolder() + QLatin1String("/cache")).isDir());
    }
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
