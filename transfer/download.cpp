#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "log/urlforlog.h"

bool UpdaterApp::download(const QUrl &url, const QString &destination, const ExpectedFile &expected)
{
    updaterLog().info("Downloading %s to %s", qUtf8Printable(urlForLog(url.toString())), qUtf8Printable(destination));
    serverWaitUntil = QDateTime();
    // Both transports wait in transferLoop, which serves one transfer at a time.
    if (transferLoop.isRunning())
        return false;
    if (url.scheme() == QLatin1String("file"))
        return copyLocalFile(url.toLocalFile(), destination, expected);
    return fetchOverNetwork(url, destination, expected);
}

QString UpdaterApp::stagingFolder() const
{
    return localPath + QLatin1String("/cache");
}
