#include "update/signedstatement.h"

#include "update/manifestkeys.h"

#include <QDateTime>
#include <QList>

#include <algorithm>

namespace {
const QByteArray timestampField("timestamp:");
const QByteArray fileField("file:");
const QByteArray expiresField("expires:");

// A field's value; false unless the comment states it exactly once.
bool readField(const QList<QByteArray> &fields, const QByteArray &name, QByteArray &value)
{
    int count = 0;
    for (const QByteArray &field : fields) {
        if (field.startsWith(name)) {
            value = field.mid(name.size());
            ++count;
        }
    }
    return count == 1;
}

bool readSeconds(const QList<QByteArray> &fields, const QByteArray &name, qint64 &seconds)
{
    QByteArray text;
    return readField(fields, name, text) && readUnixSeconds(text, seconds);
}
}

bool readUnixSeconds(const QByteArray &text, qint64 &seconds)
{
    bool ok = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    seconds = ok ? text.toLongLong(&ok) : -1;
    return ok;
}

StatementCheck checkSignedStatement(const QByteArray &trustedComment, qint64 now, SignedStatement &statement)
{
    const QList<QByteArray> fields = trustedComment.split('\t');
    QByteArray file;
    const bool stated = readSeconds(fields, timestampField, statement.timestamp)
            && readSeconds(fields, expiresField, statement.expires) && readField(fields, fileField, file);
    statement.file = QString::fromUtf8(file);
    if (!stated)
        return StatementCheck::Unstated;
    if (statement.file != manifestFileName)
        return StatementCheck::OtherFile;
    if (statement.expires <= now)
        return StatementCheck::Expired;
    return StatementCheck::Current;
}

QByteArray signedStatementText(qint64 timestamp, qint64 expires)
{
    return timestampField + QByteArray::number(timestamp) + '\t' + fileField + QByteArray(manifestFileName.data())
            + '\t' + expiresField + QByteArray::number(expires);
}

QString utcText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}
