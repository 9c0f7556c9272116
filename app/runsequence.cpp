#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "log/urlforlog.h"
#include "transfer/stagingfile.h"
#include "update/manifestkeys.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QStringList>

int UpdaterApp::run()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Software updater for Orvella Pelmara."));
    const QCommandLineOption localPathOption(QStringLiteral("localPath"),
            QStringLiteral("Local path where updates are stored"),
            QStringLiteral("localPath"), QString());
    const QCommandLineOption remotePathOption(QStringLiteral("remotePath"),
            QStringLiteral("Remote path where updates are offered"),
            QStringLiteral("remotePath"), QString());
    const QCommandLineOption shutdownOption(QStringLiteral("shutdown"),
            QStringLiteral("If another instance of updater is running, it will send a shutdown message to it"));
    parser.addOption(localPathOption);
    parser.addOption(remotePathOption);
    parser.addOption(shutdownOption);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();

    if (!parser.parse(QCoreApplication::arguments())) {
        updaterLog().info("Cannot parse arguments: %s", qUtf8Printable(parser.errorText()));
        return 1;
    }

    if (!ownsInstanceLock) {
        if (parser.isSet(shutdownOption))
            sendMessage(QStringLiteral("shutdown"));
        return 0;
    }
    if (parser.isSet(shutdownOption))
        return 0;
    // Help and version end the process on the spot, before any destructor could
    // release the lock and the control channel: release them first.
    if (parser.isSet(helpOption)) {
        releaseInstanceGuard();
        parser.showHelp(0);
    }
    if (parser.isSet(versionOption)) {
        releaseInstanceGuard();
        parser.showVersion();
    }

    if (!parser.isSet(localPathOption)) {
        updaterLog().info("Local path for updater not set.");
        return 2;
    }
    if (!parser.isSet(remotePathOption)) {
        updaterLog().info("Remote path for updater not set.");
        return 2;
    }

    const QString localPathValue = parser.value(localPathOption);
    QDir folder(localPathValue);
    if (!folder.exists()) {
        updaterLog().info("Local path (%s) doesnt exist.", qUtf8Printable(localPathValue));
        return 0;
    }
    if (!folder.exists(QStringLiteral("updates")))
        folder.mkdir(QStringLiteral("updates"));
    folder.cd(QStringLiteral("updates"));
    if (!folder.exists(QStringLiteral("available")))
        folder.mkdir(QStringLiteral("available"));
    if (!folder.exists(QStringLiteral("cache")))
        folder.mkdir(QStringLiteral("cache"));
    setLocalPath(folder.absolutePath());
    if (!lockUpdatesFolder()) {
        updaterLog().info("Another updater is working in %s.", qUtf8Printable(localPath));
        return 0;
    }
    // Only now: without the lock they could be another updater's downloads.
    removeStagingFiles(stagingFolder());

    const QString remotePathValue = parser.value(remotePathOption);
    const QUrl remoteUrl(remotePathValue, QUrl::TolerantMode);
    // The folder suffix must not turn into a server name: "http:/" followed by
    // "/pc/" would read as the host "pc".
    const QUrl remoteBase(remotePathValue + remoteFolder, QUrl::TolerantMode);
    if (!remoteUrl.isValid() || remoteBase.authority() != remoteUrl.authority()) {
        updaterLog().info("Remote path %s is not valid", qUtf8Printable(urlForLog(remotePathValue)));
        return 0;
    }
    const QStringList supportedSchemes{QStringLiteral("http"), QStringLiteral("https"),
                                       QStringLiteral("file")};
    if (!supportedSchemes.contains(remoteUrl.scheme(), Qt::CaseSensitive)) {
        updaterLog().info("Unsupported protocol used for remote path %s. Supported protocols are %s",
                          qUtf8Printable(remoteUrl.scheme()),
                          qUtf8Printable(supportedSchemes.join(QLatin1Char(','))));
        return 0;
    }

    setRemotePath(remotePathValue + remoteFolder);

    updaterLog().info("========================================================");
    updaterLog().info("%s", qUtf8Printable(QDateTime::currentDateTime().toString(Qt::TextDate)));
    updaterLog().info("%s %s Version %s.", qUtf8Printable(QCoreApplication::organizationName()),
                      qUtf8Printable(QCoreApplication::applicationName()),
                      qUtf8Printable(QCoreApplication::applicationVersion()));
    updaterLog().info("  Using local path at %s", qUtf8Printable(localPath));
    updaterLog().info("  Using remote path at %s", qUtf8Printable(urlForLog(remotePath)));

    QMetaObject::invokeMethod(this, "checkForUpdates", Qt::QueuedConnection);
    return QCoreApplication::exec();
}
