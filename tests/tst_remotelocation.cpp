#include "support/updatertestmain.h"

class RemoteLocationTest : public QObject
{
    Q_OBJECT

private slots:
    void resolve_data();
    void resolve();
    void slashesCollapseInAnyText_data();
    void slashesCollapseInAnyText();

private:
    static UpdaterApp *app() { return static_cast<UpdaterApp *>(QCoreApplication::instance()); }
};

void RemoteLocationTest::resolve_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("url"); // fully encoded

    QTest::newRow("plain base") << "https://host/base" << "updates.json" << "https://host/base/pc/updates.json";
    QTest::newRow("base with slash") << "https://host/base/" << "updates.json" << "https://host/base/pc/updates.json";
    QTest::newRow("port") << "http://host:8080" << "updates.json" << "http://host:8080/pc/updates.json";
    QTest::newRow("base ends in pc") << "https://host/base/pc" << "updates.json" << "https://host/base/pc/pc/updates.json";
    QTest::newRow("file URL") << "file:///C:/x" << "updates.json" << "file:///C:/x/pc/updates.json";
    QTest::newRow("doubled slash in name") << "https://host/base" << "pkg//app.zip" << "https://host/base/pc/pkg/app.zip";
    QTest::newRow("leading slash in name") << "https://host/base" << "/app.zip" << "https://host/base/pc/app.zip";
    QTest::newRow("percent stays literal") << "https://host/base" << "100%.zip" << "https://host/base/pc/100%25.zip";
    QTest::newRow("query") << "https://host/base?k=v" << "updates.json" << "https://host/base/updates.json?k=v/pc/";
}

void RemoteLocationTest::resolve()
{
    QFETCH(QString, remote);
    QFETCH(QString, name);
    QFETCH(QString, url);
    app()->setRemotePath(remote + QLatin1String("/pc/"));
    QCOMPARE(app()->resolveRemoteUrl(name).toString(QUrl::FullyEncoded), url);
}

void RemoteLocationTest::slashesCollapseInAnyText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");

    // A manifest's "\udc00" or "\ud800" gives a name with a lone surrogate.
    const QString low(QChar(0xdc00));
    const QString high(QChar(0xd800));
    QTest::newRow("lone low surrogate") << "pkg//app" + low << "/base/pc/pkg/app" + low;
    QTest::newRow("lone high surrogate") << high + "//app.zip" << "/base/pc/" + high + "/app.zip";
}

void RemoteLocationTest::slashesCollapseInAnyText()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    app()->setRemotePath(QStringLiteral("https://host/base//pc/"));
    const QUrl url = app()->resolveRemoteUrl(name);
    QCOMPARE(url.path(QUrl::FullyDecoded), path);
    QCOMPARE(url.host(), QStringLiteral("host"));
}

UPDATER_TEST_MAIN(RemoteLocationTest)
#include "tst_remotelocation.moc"
