#include "support/loopbackhttpserver.h"

#include <QSslSocket>
#include <QTimer>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <memory>

HttpAnswer HttpAnswer::ok(const QByteArray &body, bool announceLength)
{
    HttpAnswer answer;
    answer.head = "HTTP/1.1 200 OK\r\n";
    answer.head += announceLength ? "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
                                  : QByteArray("Connection: close\r\n");
    answer.body = body;
    return answer;
}

HttpAnswer HttpAnswer::status(int code, const QByteArray &reason, const QByteArray &body,
                              const QByteArray &extraHeaders)
{
    HttpAnswer answer;
    answer.head = "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason + "\r\n" + extraHeaders
            + "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    answer.body = body;
    return answer;
}

namespace {

// Closing with a zero linger time makes the system send a reset instead of an
// orderly end of the stream.
void resetOnClose(qintptr descriptor)
{
    const struct linger immediately = {1, 0};
#ifdef Q_OS_WIN
    setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER,
               reinterpret_cast<const char *>(&immediately), sizeof immediately);
#else
    setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
#endif
}

}

QUrl LoopbackHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                        .arg(QLatin1String(certificate.isNull() ? "http" : "https")).arg(serverPort()).arg(path));
}

void LoopbackHttpServer::incomingConnection(qintptr descriptor)
{
    // Until it starts encryption, an SSL socket is a plain TCP one.
    auto socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    if (!certificate.isNull()) {
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        socket->startServerEncryption();
    }
    // One request per connection; whatever follows it is not read.
    auto received = std::make_shared<QByteArray>();
    auto answered = std::make_shared<bool>(false);
    connect(socket, &QIODevice::readyRead, socket, [this, socket, received, answered] {
        received->append(socket->readAll());
        if (*answered || !received->contains("\r\n\r\n"))
            return;
        *answered = true;
        request = *received;
        emit requestReceived();
        const QByteArray path = request.left(request.indexOf("\r\n")).split(' ').value(1);
        answer(socket, byPath.value(path, current));
    });
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const HttpAnswer &answer)
{
    const QByteArray body = answer.bytesToSend < 0 ? answer.body : answer.body.left(answer.bytesToSend);
    socket->write(answer.head + "\r\n");

    auto end = [socket, ending = answer.ending] {
        if (ending == HttpAnswer::Close) {
            socket->disconnectFromHost();
        } else if (ending == HttpAnswer::Reset) {
            socket->flush();
            resetOnClose(socket->socketDescriptor());
            socket->abort();
        }
    };
    if (answer.dripBytes <= 0) {
        socket->write(body);
        // Give the client the bytes before a reset can overtake them.
        QTimer::singleShot(answer.ending == HttpAnswer::Reset ? 200 : 0, socket, end);
        return;
    }
    auto timer = new QTimer(socket);
    auto sent = std::make_shared<int>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body, end, answer] {
        socket->write(body.mid(*sent, answer.dripBytes));
        *sent += answer.dripBytes;
        if (*sent >= body.size()) {
            timer->stop();
            end();
        }
    });
    timer->start(answer.dripIntervalMs);
}
