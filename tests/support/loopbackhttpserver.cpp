#include "support/loopbackhttpserver.h"

#include <QTcpSocket>
#include <QTimer>

void LoopbackHttpServer::incomingConnection(qintptr descriptor)
{
    auto socket = new QTcpSocket(this);
    socket->setSocketDescriptor(descriptor);
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    // One request per connection; whatever follows it is not read.
    connect(socket, &QIODevice::readyRead, socket, [this, socket] {
        if (socket->property("answered").toBool() || !socket->peek(1 << 16).contains("\r\n\r\n"))
            return;
        socket->setProperty("answered", true);
        request = socket->readAll();
        emit requestReceived();
        const HttpAnswer answer = answers.value(request.split(' ').value(1), answers.value(QByteArray()));
        socket->write(answer.head + "\r\n");
        auto timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket, timer, answer] {
            const int sent = timer->property("sent").toInt();
            const int size = answer.dripBytes > 0 ? answer.dripBytes : answer.body.size();
            socket->write(answer.body.mid(sent, size));
            timer->setProperty("sent", sent + size);
            if (sent + size < answer.body.size())
                return;
            timer->stop();
            if (!answer.stall)
                socket->disconnectFromHost();
        });
        timer->start(answer.dripIntervalMs);
    });
}
