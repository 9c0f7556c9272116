#include "support/sandbox.h"
#include "support/updatertestmain.h"

#include <QtTest>

// What the remote location makes of text it did not expect: a command-line value
// that "/pc/" would give another server, and names that are not valid UTF-16.
class RemoteUrlTest : public QObject
{
    Q_OBJECT

private slots:
    void suffixMustNotNameServer_data();
    void suffixMustNotNameServer();
    void slashesCollapseInAnyText_data();
    void slashesCollapseInAnyText();
};

void RemoteUrlTest::suffixMustNotNameServer_data()
{
    QTest::addColumn<QString>("remote");

    // Each followed by "/pc/" reads as the host "pc" (a share on Windows for file).
    QTest::newRow("http") << "http:/";
    QTest::newRow("https") << "https:/";
    QTest::newRow("file") << "file:/";
}

void RemoteUrlTest::suffixMustNotNameServer()
{
    QFETCH(QString, remote);
    Sandbox sandbox;
    QVERIFY(sandbox.isValid());

    const Sandbox::Result result = sandbox.run(sandbox.arguments(remote));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(sandbox.logLines(), QStringList{QStringLiteral("Remote path ") + remote
                                             + QStringLiteral(" is not valid")});
}

void RemoteUrlTest::slashesCollapseInAnyText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");

    // A manifest's "\udc00" or "\ud800" gives a name with a lone surrogate.
    const QString low(QChar(0xdc00));
    const QString high(QChar(0xd800));
    QTest::newRow("valid text") << "pkg//app.zip" << "/base/pc/pkg/app.zip";
    QTest::newRow("lone low surrogate")
            << QStringLiteral("pkg//app") + low << QStringLiteral("/base/pc/pkg/app") + low;
    QTest::newRow("lone high surrogate")
            << high + QStringLiteral("//app.zip") << QStringLiteral("/base/pc/") + high + QStringLiteral("/app.zip");
}

void RemoteUrlTest::slashesCollapseInAnyText()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    auto app = static_cast<UpdaterApp *>(QCoreApplication::instance());
    app->setRemotePath(QStringLiteral("https://updates.orvella.test/base//pc/"));

    const QUrl url = app->resolveRemoteUrl(name);
    QCOMPARE(url.path(QUrl::FullyDecoded), path);
    QCOMPARE(url.host(), QStringLiteral("updates.orvella.test"));
}

UPDATER_TEST_MAIN(RemoteUrlTest)
#include "tst_remoteurl.moc"
