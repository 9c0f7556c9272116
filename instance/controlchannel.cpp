#include "app/updaterapp.h"

#include "log/logmessage.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

void UpdaterApp::onNewConnection()
{
    updaterLog().info("Received LOCAL SOCKET connection");
    QLocalSocket *socket = localServer->nextPendingConnection();
    if (!socket)
        return;
    connect(socket, SIGNAL(readyRead()), this, SLOT(onReadyRead()));
    connect(socket, SIGNAL(disconnected()), socket, SLOT(deleteLater()));
}

void UpdaterApp::onReadyRead()
{
    auto socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket)
        return;

    const QString message = QString::fromUtf8(socket->readAll());
    updaterLog().info("Received LOCAL SOCKET message: %s", qUtf8Printable(message));
    if (message == QLatin1String("shutdown")) {
        shutdownRequested = true;
        if (transferLoop.isRunning())
            transferLoop.quit();
        clearAvailableUpdates();
        QCoreApplication::quit();
    }
    // One message per connection: whatever the client sends later is never read, and
    // the connection is closed so that it cannot pile up unread either.
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->abort();
    socket->deleteLater();
}

bool UpdaterApp::sendMessage(const QString &text)
{
    QEventLoop loop;
    QLocalSocket socket;
    QTimer timer;
    bool sent = false;

    connect(&socket, &QLocalSocket::connected, &socket, [&sent, &timer, &socket, text] {
        sent = true;
        timer.stop();
        timer.start(2000);
        socket.write(text.toLatin1());
        socket.flush();
    }, Qt::DirectConnection);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit, Qt::DirectConnection);

    timer.start(2000);
    socket.connectToServer(QString::fromLatin1(serverName), QIODevice::WriteOnly);
    loop.exec();
    return sent;
}
