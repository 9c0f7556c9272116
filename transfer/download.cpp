#include "app/updaterapp.h"

#include "log/logmessage.h"

bool UpdaterApp::download(const QUrl &url, const QString &destination, const ExpectedFile &expected)
{
    updaterLog().info("Downloading %s to %s", qUtf8Printable(url.toString()), qUtf8Printable(destination));
    if (url.scheme() == QLatin1String("file"))
        return copyLocalFile(url.toLocalFile(), destination, expected);
    return fetchOverNetwork(url, destination, expected);
}

QString UpdaterApp::stagingFolder() const
{
    return localPath + QLatin1String("/cache");
}
