#ifndef RETRYAFTER_H
#define RETRYAFTER_H

#include <QByteArray>
#include <QDateTime>

// The longest a server may make the fleet wait; a kept time further ahead is no server's.
constexpr qint64 longestServerWaitSeconds = 24 * 60 * 60;

// Until when an answer of status 503 or 429 asks not to be asked again, by its
// Retry-After header (seconds, or an HTTP date), at most a day after now; a null time
// when the answer asks for no wait.
QDateTime retryAfter(int status, const QByteArray &header, const QDateTime &now);

#endif
