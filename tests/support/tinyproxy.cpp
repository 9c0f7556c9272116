#include "support/tinyproxy.h"

#include "support/loopbackport.h"
#include "support/sandbox.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

TinyProxy::~TinyProxy()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

bool TinyProxy::start(const QString &credentials)
{
    // The free port found can be taken by another process before tinyproxy binds it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = freeLoopbackPort();
        const QString configuration = prefix.filePath(QStringLiteral("tinyproxy.conf"));
        writeFile(configuration, QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 30\nMaxClients 16\n"
                                                "Allow 127.0.0.1\nLogLevel Connect\nLogFile \"%2\"\n%3\n")
                                         .arg(port)
                                         .arg(prefix.filePath(QStringLiteral("tinyproxy.log")),
                                              credentials.isEmpty() ? QString() : QLatin1String("BasicAuth ") + credentials)
                                         .toUtf8());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral("tinyproxy"), {QStringLiteral("-d"), QStringLiteral("-c"), configuration});
        const QDeadlineTimer deadline(10000);
        while (process.waitForStarted() && !deadline.hasExpired() && process.state() == QProcess::Running) {
            if (acceptsConnections(port))
                return true;
            QThread::msleep(20);
        }
        process.kill();
        process.waitForFinished();
    }
    return false;
}

QString TinyProxy::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

QStringList TinyProxy::requests() const
{
    QStringList found;
    const QRegularExpression request(QStringLiteral("Request \\(file descriptor \\d+\\): (\\S+ \\S+)"));
    auto it = request.globalMatch(QString::fromUtf8(readFile(prefix.filePath(QStringLiteral("tinyproxy.log")))));
    while (it.hasNext())
        found << it.next().captured(1);
    return found;
}
