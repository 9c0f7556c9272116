#ifndef FILELOGSINK_H
#define FILELOGSINK_H

#include <QString>
#include <QtGlobal>

class UpdaterApp;

void fileLogHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// The application object whose log path the handler writes to; null while none
// can be asked, so that a late message is dropped instead of reaching a dead object.
void setLogOwner(const UpdaterApp *app);

#endif
