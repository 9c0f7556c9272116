#ifndef REMOTEFOLDER_H
#define REMOTEFOLDER_H

#include <QByteArray>
#include <QString>

// Where, below the folder that users' --remotePath points at, updaters look: the
// folder "pc" that holds the manifest and the packages it names.
QString updateFolderPath(const QString &remoteDir);
QString publishedFilePath(const QString &remoteDir, const QString &name);
QString publishedManifestPath(const QString &remoteDir);

// Writes under a temporary name beside path, renamed into place when complete.
bool writeWhole(const QString &path, const QByteArray &text, QString &error);

#endif
