#ifndef URLFORLOG_H
#define URLFORLOG_H

#include <QString>
#include <QUrl>

// A URL as the log shows it: without the password of its user information, since every
// user may read the log. The rest of the text is kept as it is, even where the URL is
// not valid.
QString urlForLog(const QString &url);

// A message of Qt's about a transfer, which may quote the URL, as the log shows it.
QString transferErrorForLog(QString message, const QUrl &url);

#endif
