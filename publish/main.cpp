#include "publish/commandline.h"
#include "publish/exitcodes.h"
#include "publish/publishing.h"
#include "publish/resigning.h"
#include "publish/verification.h"
#include "update/updaterversion.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvella"));
    QCoreApplication::setApplicationName(QStringLiteral("software-updater-publish"));
    // Built with the updater it publishes for, and bound to its rules.
    QCoreApplication::setApplicationVersion(updaterVersion);

    PublishCommand command;
    if (!parseCommandLine(QCoreApplication::arguments(), command))
        return UsageError;
    if (command.verify)
        return verifyPublishedUpdate(command.remoteDir, command.publicKey);
    return command.resign ? resignUpdate(command) : publishUpdate(command);
}
