#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "transfer/digestcheck.h"
#include "transfer/networktransfer.h"
#include "transfer/progress.h"
#include "transfer/sizechecks.h"
#include "transfer/stagingfile.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

int transferTimeoutMs = 60 * 1000;

// Bounds what the reply buffers while the staging file catches up, so that memory
// stays flat whatever the size of the package.
constexpr qint64 replyBufferSize = 1 << 20;

QString userAgent()
{
    return QStringLiteral("%1-%2-%3")
            .arg(QCoreApplication::organizationName())
            .arg(QCoreApplication::applicationName())
            .arg(QCoreApplication::applicationVersion())
            .toLower()
            .replace(QLatin1Char(' '), QLatin1Char('_'));
}

// Decides, once a reply without a network error has finished, whether its body is
// the file asked for, and if so places it at destination.
bool storeReply(QNetworkReply *reply, StagingFile &staged, const QString &destination,
                const ExpectedFile &expected)
{
    // Redirects are not followed, so a 3xx ends here like any other answer that
    // does not carry the file.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299) {
        updaterLog().info("    ERROR: Server answered with HTTP status %d.", status);
        return false;
    }
    staged.append(reply->readAll());
    // A cut-off body can end without a network error; a manifest has no digest to
    // catch it.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && staged.size() < announced.toLongLong()) {
        updaterLog().info("    ERROR: Received %lld of %lld bytes.", staged.size(),
                          announced.toLongLong());
        return false;
    }
    if (!expected.md5.isEmpty() && !verifyDigest(staged.md5(), expected.md5))
        return false;
    if (!staged.commit(destination)) {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        return false;
    }
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
    StagingFile staged(stagingFolder());
    if (!staged.open()) {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        return false;
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setTransferTimeout(transferTimeoutMs);
    // The read buffer limit can only be set once the request has started, and Qt
    // counts whatever its network thread received before the limit reached it
    // against the limit later on, so that memory grows by as much for the rest of
    // the transfer. A new connection, and with it a new network thread, lets the
    // limit arrive before the first byte does.
    networkManager.clearConnectionCache();
    QNetworkReply *reply = networkManager.get(request);
    reply->setReadBufferSize(replyBufferSize);

    const QString name = QFileInfo(destination).fileName();
    QVector<QMetaObject::Connection> connections;
    // Ends a transfer that must not go on: nothing of the reply reaches the handlers
    // any more, and no further byte is received.
    auto abandon = [this, reply, &connections] {
        for (const QMetaObject::Connection &connection : qAsConst(connections))
            disconnect(connection);
        reply->abort();
        transferLoop.exit(1);
    };
    // The announced length is known before the first byte of the body arrives.
    auto onMetaData = [this, reply, &expected, &name, abandon] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (status >= 200 && status <= 299 && announced.isValid()
                && (!fitsSizeLimit(expected, name, announced.toLongLong())
                    || !fitsFreeSpace(expected, stagingFolder(), announced.toLongLong())))
            abandon();
    };
    // A failed reply still reports its progress once more as it finishes; that
    // would only repeat what came before the error line.
    auto onProgress = [reply](qint64 received, qint64 total) {
        if (reply->error() == QNetworkReply::NoError)
            logProgress(received, total);
    };
    auto onData = [reply, &staged, &expected, &name, abandon] {
        if (fitsSizeLimit(expected, name, staged.size() + reply->bytesAvailable()))
            staged.append(reply->readAll());
        else
            abandon();
    };
    // After an error the reply may already be closed: reading it then only makes Qt
    // complain, and the error handler has ended the wait. After a shutdown nothing
    // may be placed.
    auto onFinished = [this, reply, &staged, &destination, &expected] {
        if (reply->error() == QNetworkReply::NoError && transferLoop.isRunning())
            transferLoop.exit(storeReply(reply, staged, destination, expected) ? 0 : 1);
    };
    auto onError = [this, reply](QNetworkReply::NetworkError code) {
        updaterLog().info("    ERROR: (%d) %s", int(code), qUtf8Printable(reply->errorString()));
        transferLoop.exit(1);
    };
    connections = {
        connect(reply, &QNetworkReply::metaDataChanged, reply, onMetaData),
        connect(reply, &QNetworkReply::downloadProgress, reply, onProgress),
        connect(reply, &QIODevice::readyRead, reply, onData),
        connect(reply, &QNetworkReply::finished, reply, onFinished),
        connect(reply, &QNetworkReply::errorOccurred, reply, onError),
    };

    const int result = transferLoop.exec();

    // A shutdown ended the wait: the handlers refer to this call's state, and the
    // available folder has been emptied, so the reply must neither reach them nor
    // go on. A reply that has failed already is finishing on its own; aborting it
    // again only makes Qt complain.
    if (!reply->isFinished()) {
        for (const QMetaObject::Connection &connection : qAsConst(connections))
            disconnect(connection);
        if (reply->error() == QNetworkReply::NoError)
            reply->abort();
    }
    return result == 0;
}
