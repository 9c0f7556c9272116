#ifndef SIGNEDSTATEMENT_H
#define SIGNEDSTATEMENT_H

#include <QByteArray>
#include <QString>

// What the trusted comment of a signature of updates.json states, covered by the
// global signature: when it was signed, for which file, and until when it holds. It
// binds a signed manifest to its time, so that an old one cannot be replayed and a
// frozen one runs out. Tab-separated fields "timestamp:<Unix seconds>",
// "file:updates.json" and "expires:<Unix seconds>", among others in any order.
struct SignedStatement
{
    qint64 timestamp = -1;
    QString file;
    qint64 expires = -1;
};

enum class StatementCheck { Current, Unstated, OtherFile, Expired };

// Reads trustedComment into statement and checks it in this order: the three fields
// each stated once, timestamp and expires as decimal numbers; made for updates.json;
// expires after now.
StatementCheck checkSignedStatement(const QByteArray &trustedComment, qint64 now, SignedStatement &statement);

// Reads a decimal number of seconds: digits only, no sign, space or exponent.
bool readUnixSeconds(const QByteArray &text, qint64 &seconds);

// The trusted comment that states those fields.
QByteArray signedStatementText(qint64 timestamp, qint64 expires);

// Unix seconds as UTC in ISO 8601, such as 2026-12-07T08:00:00Z.
QString utcText(qint64 seconds);

#endif
