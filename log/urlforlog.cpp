#include "log/urlforlog.h"

#include <QRegularExpression>

QString urlForLog(const QString &url)
{
    // The authority runs from "//" to the next "/", "?" or "#"; its user information
    // ends at its last "@", and the password follows the first ":" in it.
    static const QRegularExpression authorityEnd(QStringLiteral("[/?#]"));
    const int start = url.indexOf(QLatin1String("//"));
    if (start < 0)
        return url;
    const int end = url.indexOf(authorityEnd, start + 2);
    const int at = url.lastIndexOf(QLatin1Char('@'), end < 0 ? -1 : end - 1);
    const int colon = url.indexOf(QLatin1Char(':'), start + 2);
    if (at < start + 2 || colon < 0 || colon > at)
        return url;
    return url.left(colon) + url.mid(at);
}

QString transferErrorForLog(QString message, const QUrl &url)
{
    const QString text = url.toString();
    return message.replace(text, urlForLog(text));
}
