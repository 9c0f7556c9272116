#include "log/filelogsink.h"

#include "app/updaterapp.h"
#include "platform/ownfile.h"

#include <QFile>

#include <atomic>

namespace {
std::atomic<const UpdaterApp *> logOwner{nullptr};
}

void setLogOwner(const UpdaterApp *app)
{
    logOwner.store(app);
}

void fileLogHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context)
    const UpdaterApp *app = logOwner.load();
    if (!message.isEmpty() && app) {
        QByteArray line = message.toLatin1();
        line.append('\n');
        QFile file(app->logPath());
        // Never through a link or into another file that others planted in its place.
        if (openOwnFile(file, QIODevice::Append))
            file.write(line);
    }
    if (type == QtFatalMsg)
        QCoreApplication::quit();
}

void UpdaterApp::setLocalPath(const QString &path)
{
    if (path == localPath)
        return;
    localPath = path;
    logFilePath = path + QLatin1String("/updater.log");
    qInstallMessageHandler(path.isEmpty() ? nullptr : fileLogHandler);
}

QString UpdaterApp::logPath() const
{
    return logFilePath;
}
