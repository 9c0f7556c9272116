#include "transfer/partialdownload.h"

#include "log/logmessage.h"
#include "platform/ownfile.h"
#include "transfer/stagingfile.h"

#include <QFile>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

namespace {

const QLatin1String partName("package.partial");
const QLatin1String recordName("package.partial.json");
const QString validatorKey = QStringLiteral("validator");

// What the kept bytes belong to. Every digest and size that the manifest states
// joins it, so that bytes of another package or digest are never resumed.
QJsonObject identityOf(const QUrl &url, const ExpectedFile &expected)
{
    if (expected.md5.isEmpty() && expected.sha256.isEmpty())
        return {};
    return {{QStringLiteral("url"), url.toString(QUrl::FullyEncoded)},
            {QStringLiteral("md5"), expected.md5},
            {QStringLiteral("sha256"), expected.sha256},
            {QStringLiteral("size"), expected.size}};
}

// What tells the server's file apart from a changed one: a strong entity tag, or
// else its modification time. If-Range does not honour a weak tag.
QString validatorOf(const QNetworkReply &reply)
{
    const QByteArray tag = reply.rawHeader("ETag");
    if (!tag.isEmpty() && !tag.startsWith("W/"))
        return QString::fromLatin1(tag);
    return QString::fromLatin1(reply.rawHeader("Last-Modified"));
}

// A validator goes back into a request header, so it must be one line of plain text.
bool isHeaderText(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7f;
    });
}

QJsonObject readRecord(const QString &path)
{
    QFile file(path);
    if (!openOwnFile(file, QIODevice::ReadOnly))
        return {};
    // A record is a few hundred bytes; anything much larger is none of ours.
    return QJsonDocument::fromJson(file.read(1 << 16)).object();
}

}

PartialDownload::PartialDownload(const QString &folder, const QUrl &url, const ExpectedFile &expected)
    : partPath(folder + QLatin1Char('/') + partName),
      recordPath(folder + QLatin1Char('/') + recordName),
      identity(identityOf(url, expected)),
      size(expected.size)
{
    if (identity.isEmpty())
        return;
    QJsonObject record = readRecord(recordPath);
    validator = record.take(validatorKey).toString();
    // Bytes that another account could have written or still changes are never resumed.
    kept = ownFileSize(partPath);
    if (record != identity || !isHeaderText(validator) || kept <= 0 || (size >= 0 && kept > size)) {
        remove();
        kept = 0;
    }
}

PartialDownload::~PartialDownload()
{
    if (discarded && !identity.isEmpty())
        remove();
}

void PartialDownload::prepare(QNetworkRequest &request) const
{
    if (kept == 0)
        return;
    updaterLog().info("    Resuming at %lld bytes.", kept);
    request.setRawHeader("Range", "bytes=" + QByteArray::number(kept) + '-');
    request.setRawHeader("If-Range", validator.toLatin1());
}

bool PartialDownload::stageWhole(StagingFile &staged) const
{
    return staged.adopt(partPath, kept);
}

bool PartialDownload::resumesAsAsked(const QNetworkReply &reply)
{
    // Qt may report a head more than once; the body has begun by then.
    if (identity.isEmpty() || answered || reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 206)
        return true;
    // Bytes from anywhere else than right after the kept ones would not fit them.
    if (kept == 0 || !reply.rawHeader("Content-Range").startsWith("bytes " + QByteArray::number(kept) + '-')) {
        updaterLog().info("    ERROR: Server did not resume at %lld bytes.", kept);
        remove();
        return false;
    }
    resumedAt = kept;
    return true;
}

void PartialDownload::receive(const QNetworkReply &reply, StagingFile &staged)
{
    if (identity.isEmpty() || answered)
        return;
    answered = true;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 206) {
        staged.adopt(partPath, kept);
        return;
    }
    // Nothing follows the kept bytes: they are the whole file, yet were never placed,
    // and updates.json states no size that would have shown it. Asking again would
    // meet the same answer on every run.
    if (status == 416)
        remove();
    // Any other answer fails as it would have without a kept part, which stays.
    if (status != 200)
        return;
    validator = validatorOf(reply);
    if (!isHeaderText(validator)) {
        remove();
        return;
    }
    // The part is emptied before its record names the new file: a process killed in
    // between leaves a record of nothing, never old bytes under a new name. A record
    // cut short reads as none, and its part goes.
    staged.adopt(partPath, 0);
    QJsonObject record = identity;
    record.insert(validatorKey, validator);
    QFile file(recordPath);
    if (openOwnFile(file, QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(record).toJson(QJsonDocument::Compact));
}

void PartialDownload::remove() const
{
    QFile::remove(recordPath);
    QFile::remove(partPath);
}
