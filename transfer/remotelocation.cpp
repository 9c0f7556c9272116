#include "app/updaterapp.h"

void UpdaterApp::setRemotePath(const QString &text)
{
    if (text == remotePath)
        return;
    remotePath = QUrl(text, QUrl::TolerantMode).toString();
}

void UpdaterApp::setRemotePaths(const QStringList &texts)
{
    remotePaths.clear();
    for (const QString &text : texts)
        remotePaths << QUrl(text, QUrl::TolerantMode).toString();
    remotePath = remotePaths.value(0);
}

QUrl UpdaterApp::resolveRemoteUrl(const QString &name) const
{
    static const QString slash(QStringLiteral("/"));
    static const QString doubleSlash(QStringLiteral("//"));

    QUrl url(remotePath, QUrl::TolerantMode);
    url.setPath(url.path(QUrl::FullyDecoded) + slash + name, QUrl::DecodedMode);
    // Not a regular expression: it matches nothing in text that is not valid UTF-16,
    // such as a name with a lone surrogate from a manifest's "\udc00", and every
    // run of slashes would stay.
    QString path = url.path(QUrl::FullyDecoded);
    while (path.contains(doubleSlash))
        path.replace(doubleSlash, slash);
    url.setPath(path, QUrl::DecodedMode);
    return url;
}
