#include "app/updaterapp.h"

#include "log/filelogsink.h"
#include "log/logmessage.h"
#include "update/updaterversion.h"

#include <QLockFile>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QSslError>

UpdaterApp::UpdaterApp(int &argc, char **argv)
    : QCoreApplication(argc, argv),
      serverName("ZorvanApplicationUpdater"),
      ownsInstanceLock(false),
      instanceLock(nullptr),
      networkManager(nullptr),
      localServer(nullptr),
      transferLoop(nullptr)
{
    setOrganizationName(QStringLiteral("Orvella"));
    setApplicationName(QStringLiteral("Software Updater"));
    setApplicationVersion(updaterVersion);

    acquireInstanceGuard();

    // Many company networks reach the internet only through a proxy. The system's
    // settings are asked for on purpose, whatever Qt was built to do by default; a
    // proxy that wants credentials gets none, and fails the transfer.
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    // Certificate problems are never ignored: whoever could answer in the server's
    // place would choose what gets installed. Qt then fails the reply.
    connect(&networkManager, &QNetworkAccessManager::sslErrors, this,
            [](QNetworkReply *, const QList<QSslError> &errors) {
                for (const QSslError &error : errors)
                    updaterLog().info("    TLS ERROR: %s", qUtf8Printable(error.errorString()));
            });
    connect(&networkManager, &QNetworkAccessManager::finished, this,
            [](QNetworkReply *reply) { reply->deleteLater(); });

    setLogOwner(this);
}

UpdaterApp::~UpdaterApp()
{
    // The updates folder first: whoever takes the instance lock next finds it free.
    updatesFolderLock.reset();
    releaseInstanceGuard();
    delete instanceLock;
    // From here on the members go; a message that still arrives has nowhere to go.
    setLogOwner(nullptr);
}
