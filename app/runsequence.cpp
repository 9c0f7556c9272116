#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "log/urlforlog.h"
#include "platform/ownfolder.h"
#include "transfer/stagingfile.h"
#include "update/manifestkeys.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QStringList>

namespace {
// Enough for a primary host, its mirrors and a share; each unreachable one costs a timeout.
constexpr int maxRemotePaths = 8;
}

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
    if (parser.values(remotePathOption).size() > maxRemotePaths) {
        updaterLog().info("Cannot parse arguments: More than %d remote paths.", maxRemotePaths);
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
    const QDir folder(localPathValue);
    if (!folder.exists()) {
        updaterLog().info("Local path (%s) doesnt exist.", qUtf8Printable(localPathValue));
        return 0;
    }
    // Another account that can change the folder could turn this run against the files of
    // this one; nothing is written there before the folder is made this account's. A file
    // in its place is refused too: the local folder itself is not the updater's to take over.
    const QString updates = folder.absoluteFilePath(QStringLiteral("updates"));
    const FolderFault fault = secureUpdatesFolder(updates);
    if (fault.kind == FolderFault::Link) {
        updaterLog().info("Refusing to work in %s: %s is a link.", qUtf8Printable(updates), qUtf8Printable(fault.path));
        return 0;
    }
    if (fault.kind == FolderFault::OpenToOthers) {
        updaterLog().info("Refusing to work in %s: %s can be changed by other accounts.", qUtf8Printable(updates),
                          qUtf8Printable(fault.path));
        return 0;
    }
    setLocalPath(updates);
    if (!lockUpdatesFolder()) {
        updaterLog().info("Another updater is working in %s.", qUtf8Printable(localPath));
        return 0;
    }
    // Only now: without the lock they could be another updater's downloads.
    removeStagingFiles(stagingFolder());

    // Each path is checked as it comes, and the first that fails ends the run.
    const QStringList supportedSchemes{QStringLiteral("http"), QStringLiteral("https"),
                                       QStringLiteral("file")};
    QStringList remoteBases;
    for (const QString &remotePathValue : parser.values(remotePathOption)) {
        const QUrl remoteUrl(remotePathValue, QUrl::TolerantMode);
        // The folder suffix must not turn into a server name: "http:/" followed by
        // "/pc/" would read as the host "pc".
        const QUrl remoteBase(remotePathValue + remoteFolder, QUrl::TolerantMode);
        if (!remoteUrl.isValid() || remoteBase.authority() != remoteUrl.authority()) {
            updaterLog().info("Remote path %s is not valid", qUtf8Printable(urlForLog(remotePathValue)));
            return 0;
        }
        if (!supportedSchemes.contains(remoteUrl.scheme(), Qt::CaseSensitive)) {
            updaterLog().info("Unsupported protocol used for remote path %s. Supported protocols are %s",
                              qUtf8Printable(remoteUrl.scheme()),
                              qUtf8Printable(supportedSchemes.join(QLatin1Char(','))));
            return 0;
        }
        remoteBases << remotePathValue + remoteFolder;
    }
    setRemotePaths(remoteBases);

    updaterLog().info("========================================================");
    updaterLog().info("%s", qUtf8Printable(QDateTime::currentDateTime().toString(Qt::TextDate)));
    updaterLog().info("%s %s Version %s.", qUtf8Printable(QCoreApplication::organizationName()),
                      qUtf8Printable(QCoreApplication::applicationName()),
                      qUtf8Printable(QCoreApplication::applicationVersion()));
    updaterLog().info("  Using local path at %s", qUtf8Printable(localPath));
    for (const QString &path : qAsConst(remotePaths))
        updaterLog().info("  Using remote path at %s", qUtf8Printable(urlForLog(path)));

    QMetaObject::invokeMethod(this, "checkForUpdates", Qt::QueuedConnection);
    return QCoreApplication::exec();
}
