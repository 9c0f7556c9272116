#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "log/urlforlog.h"
#include "transfer/digestcheck.h"
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

// Whether the length that a successful reply announces, after the offset kept from
// an earlier run, stays within the limit and fits on the disk.
bool fitsAnnouncedLength(QNetworkReply *reply, qint64 offset, const ExpectedFile &expected,
                         const QString &name, const QString &folder)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    return status < 200 || status > 299 || !announced.isValid()
            || (fitsSizeLimit(expected, name, offset + announced.toLongLong())
                && fitsFreeSpace(expected, folder, announced.toLongLong()));
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
    staged.append(rest);
    // A cut-off body can end without a network error; a manifest has no digest to
    // catch it.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 total = announced.isValid() ? partial.offset() + announced.toLongLong() : -1;
    if (!receivedAll(staged.size(), total) || !receivedAll(staged.size(), expected.size))
        return false;
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

}

void setNetworkTransferTimeout(int milliseconds)
{
    transferTimeoutMs = milliseconds;
}

bool UpdaterApp::fetchOverNetwork(const QUrl &url, const QString &destination,
                                  const ExpectedFile &expected)
{
    if (!fitsFreeSpace(expected, stagingFolder(), -1))
        return false;

    // Declared first so that it goes last, once the staging file has let go of the part.
    PartialDownload partial(stagingFolder(), url, expected);
    StagingFile staged(stagingFolder(), !expected.sha256.isEmpty());
    if (!staged.open()) {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        return false;
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
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

    const QString name = QFileInfo(destination).fileName();
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
    QMetaObject::Connection connections[6];
    auto refuse = [this, reply, &connections] {
        for (const QMetaObject::Connection &connection : connections)
            disconnect(connection);
        reply->abort();
        transferLoop.exit(1);
    };
    // A 206 continues the kept part; what the server then announces is the rest. The
    // announced length is known before the first byte of the body arrives.
    auto onHeaders = [this, reply, &staged, &partial, &expected, &name, refuse] {
        if (!partial.receive(*reply, staged)
                || announcesOtherSize(reply, expected.size < 0 ? -1 : expected.size - partial.offset()))
            refuse();
        else if (!fitsAnnouncedLength(reply, partial.offset(), expected, name, stagingFolder()))
            refuse();
    };
    QTimer delayedWrite;
    delayedWrite.setSingleShot(true);
    delayedWrite.setInterval(writeDelayMs);
    auto onData = [reply, &staged, &expected, &name, refuse, &delayedWrite] {
        const qint64 received = staged.size() + reply->bytesAvailable();
        if (!fitsSizeLimit(expected, name, received) || !withinExpectedSize(received, expected.size))
            refuse();
        else if (reply->bytesAvailable() >= writeSize)
            staged.append(reply->readAll());
        else if (!delayedWrite.isActive())
            delayedWrite.start();
    };
    // Whatever waits has passed the checks above as it arrived.
    auto onWriteDue = [reply, &staged] { staged.append(reply->readAll()); };
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
    connections[5] = connect(&delayedWrite, &QTimer::timeout, reply, onWriteDue);

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
