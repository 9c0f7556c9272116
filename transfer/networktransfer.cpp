#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "log/urlforlog.h"
#include "transfer/digestcheck.h"
#include "transfer/minimumrate.h"
#include "transfer/networktransfer.h"
#include "transfer/partialdownload.h"
#include "transfer/progress.h"
#include "transfer/retryafter.h"
#include "transfer/serverwait.h"
#include "transfer/sizecheck.h"
#include "transfer/transferbounds.h"
#include "transfer/stagingfile.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

int transferTimeoutMs = 60 * 1000;
int rateWindowMs = 60 * 1000;
constexpr qint64 minimumBytesPerSecond = 1024;

// Bounds what the reply buffers while the staging file catches up, so that memory
// stays flat whatever the size of the package.
constexpr qint64 replyBufferSize = 256 << 10;
// Bytes wait in the reply until they make one large write: a write, and a hand-over
// to the digests, per TLS record costs more than moving its bytes. Larger writes only
// take more memory and leave the processor's caches. On a slow line bytes wait no
// longer than a moment, so that a transfer cut off keeps nearly all it received.
constexpr qint64 writeSize = replyBufferSize / 2;
constexpr int writeDelayMs = 100;

QString userAgent()
{
    return QStringLiteral("%1-%2-%3")
            .arg(QCoreApplication::organizationName())
            .arg(QCoreApplication::applicationName())
            .arg(QCoreApplication::applicationVersion())
            .toLower()
            .replace(QLatin1Char(' '), QLatin1Char('_'));
}

// Whether a reply's headers announce a body of other length than the manifest states.
bool announcesOtherSize(QNetworkReply *reply, qint64 expectedSize)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (expectedSize < 0 || status < 200 || status > 299 || !announced.isValid()
            || announced.toLongLong() == expectedSize)
        return false;
    updaterLog().info("    ERROR: Server announces %lld bytes, but updates.json announces %lld.",
                      announced.toLongLong(), expectedSize);
    return true;
}

// Qt decodes a compressed body on its own, past every bound on its length and
// before the digest sees it; only identity is asked for, and nothing else is taken.
bool isEncoded(QNetworkReply *reply, const QString &name)
{
    const QByteArray encoding = reply->rawHeader("Content-Encoding");
    if (encoding.isEmpty() || encoding.compare("identity", Qt::CaseInsensitive) == 0)
        return false;
    updaterLog().info("    ERROR: Server sent %s with Content-Encoding %s.", qUtf8Printable(name), encoding.constData());
    return true;
}

// Whether the length that a successful reply announces, after the offset it resumes
// at, stays within the limit, and the file fits on the disk beside the kept bytes,
// which a new answer starts over.
bool fitsAnnouncedLength(QNetworkReply *reply, const PartialDownload &partial, const ExpectedFile &expected,
                         const QString &name, const QString &folder)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (status < 200 || status > 299 || !announced.isValid())
        return true;
    const qint64 total = partial.offset() + announced.toLongLong();
    return fitsSizeLimit(expected, name, total)
            && fitsFreeSpace(folder, qMax(total, expected.size) - partial.keptBytes());
}

// Verifies the staged bytes and places them at destination.
bool placeStaged(StagingFile &staged, PartialDownload &partial, const QString &destination,
                 const ExpectedFile &expected)
{
    // Bytes that failed their digest would fail it again on every resume.
    if (!verifyDigests(staged, expected)) {
        partial.discard();
        return false;
    }
    if (!staged.commit(destination)) {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        return false;
    }
    partial.discard();
    updaterLog().info("    Finished downloading %lld bytes.", staged.size());
    return true;
}

// Decides, once a reply without a network error has finished, whether its body is
// the file asked for, and if so places it at destination.
bool storeReply(QNetworkReply *reply, StagingFile &staged, PartialDownload &partial,
                const QString &destination, const ExpectedFile &expected)
{
    // Redirects are not followed, so a 3xx ends here like any other answer that
    // does not carry the file.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299) {
        updaterLog().info("    ERROR: Server answered with HTTP status %d.", status);
        return false;
    }
    const QByteArray rest = reply->readAll();
    if (!withinExpectedSize(staged.size() + rest.size(), expected.size))
        return false;
    if (!stageBytes(staged, rest, QFileInfo(destination).fileName())) {
        partial.discard();
        return false;
    }
    // A cut-off body can end without a network error; a manifest has no digest to
    // catch it.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 total = announced.isValid() ? partial.offset() + announced.toLongLong() : -1;
    if (!receivedAll(staged.size(), total) || !receivedAll(staged.size(), expected.size))
        return false;
    return placeStaged(staged, partial, destination, expected);
}

}

void setNetworkTransferTimeout(int milliseconds)
{
    transferTimeoutMs = milliseconds;
}

void setTransferRateWindow(int milliseconds)
{
    rateWindowMs = milliseconds;
}

bool UpdaterApp::fetchOverNetwork(const QUrl &url, const QString &destination,
                                  const ExpectedFile &expected)
{
    // Declared first so that it goes last, once the staging file has let go of the part.
    // A part of another package goes before the disk's room is counted.
    PartialDownload partial(stagingFolder(), url, expected);
    if (!fitsFreeSpace(stagingFolder(), expected.size - partial.keptBytes()))
        return false;
    StagingFile staged(stagingFolder(), !expected.sha256.isEmpty());
    if (!staged.open()) {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        return false;
    }
    const QString name = QFileInfo(destination).fileName();
    if (partial.isWhole()) {
        if (partial.stageWhole(staged))
            return placeStaged(staged, partial, destination, expected);
        updaterLog().info("    ERROR: Could not write %s: %s.", qUtf8Printable(name), qUtf8Printable(staged.errorString()));
        partial.discard();
        return false;
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(transferTimeoutMs);
    partial.prepare(request);
    // The read buffer limit can only be set once the request has started, and Qt
    // counts whatever its network thread received before the limit reached it
    // against the limit later on, so that memory grows by as much for the rest of
    // the transfer. A new connection, and with it a new network thread, lets the
    // limit arrive before the first byte does.
    networkManager.clearConnectionCache();
    QNetworkReply *reply = networkManager.get(request);
    reply->setReadBufferSize(replyBufferSize);
    MinimumRate rate(minimumBytesPerSecond * rateWindowMs / 1000, rateWindowMs);
    rate.start();

    // A failed reply still reports its progress once more as it finishes; that
    // would only repeat what came before the error line. The body of an error answer
    // (a proxy's 407 page) is not the file: it may arrive before Qt reports the error.
    // A resumed body counts on from the kept bytes.
    auto onProgress = [reply, &partial](qint64 received, qint64 total) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::NoError && status >= 200 && status <= 299)
            logProgress(partial.offset() + received, total < 0 ? total : partial.offset() + total);
    };
    // A body announced or received with another length than the manifest states ends
    // the transfer there: nothing of this reply reaches the handlers any more.
    QMetaObject::Connection connections[7];
    auto refuse = [this, reply, &connections] {
        for (const QMetaObject::Connection &connection : connections)
            disconnect(connection);
        reply->abort();
        transferLoop.exit(1);
    };
    // The kept part and its record change only once the head has passed every check:
    // a portal's page must not cost the bytes kept. A 206 continues the kept part; what
    // the server then announces is the rest. The head is known before the first byte
    // of the body arrives.
    auto onHeaders = [this, reply, &staged, &partial, &expected, &name, &rate, refuse] {
        if (isEncoded(reply, name) || !partial.resumesAsAsked(*reply)
                || announcesOtherSize(reply, expected.size < 0 ? -1 : expected.size - partial.offset())
                || !fitsAnnouncedLength(reply, partial, expected, name, stagingFolder())) {
            refuse();
            return;
        }
        partial.receive(*reply, staged);
        // Reading the kept bytes back took the time of the disk, not of the server.
        if (partial.offset() > 0)
            rate.start();
    };
    // The first byte that the disk does not take ends the transfer; the bytes staged
    // so far, a kept part included, are gone with it.
    auto take = [reply, &staged, &partial, &name, &rate, refuse] {
        const QByteArray bytes = reply->readAll();
        if (!stageBytes(staged, bytes, name)) {
            partial.discard();
            refuse();
        } else {
            rate.received(bytes.size());
        }
    };
    // Bytes reach the file in large writes; whatever waits has passed the checks below
    // as it arrived, and goes out after a moment on a slow line.
    QTimer delayedWrite;
    delayedWrite.setSingleShot(true);
    delayedWrite.setInterval(writeDelayMs);
    auto onData = [reply, &staged, &expected, &name, refuse, take, &delayedWrite] {
        const qint64 received = staged.size() + reply->bytesAvailable();
        if (!fitsSizeLimit(expected, name, received) || !withinExpectedSize(received, expected.size))
            refuse();
        else if (reply->bytesAvailable() >= writeSize)
            take();
        else if (!delayedWrite.isActive())
            delayedWrite.start();
    };
    // What came so far is kept for a resume, as after any cut.
    auto onTooSlow = [reply, refuse] {
        if (reply->isFinished())
            return;
        updaterLog().info("    ERROR: Transfer slower than %lld bytes per second for %d seconds.",
                          minimumBytesPerSecond, rateWindowMs / 1000);
        refuse();
    };
    // After an error the reply may already be closed: reading it then only makes Qt
    // complain, and the error handler has ended the wait. After a shutdown nothing
    // may be placed.
    auto onFinished = [this, reply, &staged, &partial, &destination, &expected] {
        if (reply->error() == QNetworkReply::NoError && transferLoop.isRunning())
            transferLoop.exit(storeReply(reply, staged, partial, destination, expected) ? 0 : 1);
    };
    auto onError = [this, reply](QNetworkReply::NetworkError code) {
        updaterLog().info("    ERROR: (%d) %s", int(code), qUtf8Printable(transferErrorForLog(reply->errorString(), reply->url())));
        serverWaitUntil = retryAfter(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                                     reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc());
        if (serverWaitUntil.isValid())
            updaterLog().info("    Server asks to wait until %s.", qUtf8Printable(serverWaitText(serverWaitUntil)));
        transferLoop.exit(1);
    };
    connections[0] = connect(reply, &QNetworkReply::metaDataChanged, reply, onHeaders);
    connections[1] = connect(reply, &QNetworkReply::downloadProgress, reply, onProgress);
    connections[2] = connect(reply, &QIODevice::readyRead, reply, onData);
    connections[3] = connect(reply, &QNetworkReply::finished, reply, onFinished);
    connections[4] = connect(reply, &QNetworkReply::errorOccurred, reply, onError);
    connections[5] = connect(&delayedWrite, &QTimer::timeout, reply, take);
    connections[6] = connect(&rate, &MinimumRate::tooSlow, reply, onTooSlow);

    const int result = transferLoop.exec();

    // A shutdown ended the wait: the handlers refer to this call's state, and the
    // available folder has been emptied, so the reply must neither reach them nor
    // go on. A reply that has failed already is finishing on its own; aborting it
    // again only makes Qt complain.
    if (!reply->isFinished()) {
        for (const QMetaObject::Connection &connection : connections)
            disconnect(connection);
        if (reply->error() == QNetworkReply::NoError)
            reply->abort();
    }
    return result == 0;
}
