#include "support/loopbackhttpserver.h"

#include <QTcpSocket>

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
        socket->write(answer.head + "\r\n" + answer.body);
        if (!answer.stall)
            socket->disconnectFromHost();
    });
}
