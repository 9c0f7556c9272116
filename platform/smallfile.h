#ifndef SMALLFILE_H
#define SMALLFILE_H

#include <QByteArray>
#include <QString>

// The few bytes of a record the updater keeps for itself, such as its install identity.

// The bytes of the regular file at path, or a null array when there is none, it is a
// link, or it holds more than maxBytes: whoever may create files there cannot make the
// updater read a link's target, nor much of anything.
QByteArray readSmallFile(const QString &path, qint64 maxBytes);

// Replaces path with bytes: written to a new file beside it, readable by its owner
// only, and renamed into place once on the disk, so that a killed process leaves the
// old record or the new one, never half of one.
bool writeSmallFile(const QString &path, const QByteArray &bytes);

#endif
