#include "support/loopbackdaemon.h"

#include "support/sandbox.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>

namespace {

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

LoopbackDaemon::~LoopbackDaemon()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

bool LoopbackDaemon::launch(int portCount, const QString &file, const QString &program, const QStringList &arguments)
{
    // A free port found can be taken by another process before the program binds it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        ports.clear();
        for (int i = 0; i < portCount; ++i)
            ports << freeLoopbackPort();
        if (!prefix.isValid() || ports.contains(0))
            return false;
        writeFile(path(file), configuration().toUtf8());
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments);
        const QDeadlineTimer deadline(10000);
        while (process.waitForStarted() && !deadline.hasExpired() && process.state() == QProcess::Running) {
            if (std::all_of(ports.cbegin(), ports.cend(), accepts))
                return true;
            QThread::msleep(20);
        }
        process.kill();
        process.waitForFinished();
    }
    return false;
}
