#include "support/nginxserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {
quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}
}

NginxServer::NginxServer(const QString &rootFolder) : root(QFileInfo(rootFolder).absoluteFilePath()) {}

NginxServer::~NginxServer()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
}

void NginxServer::enableHttps(const QString &certificateFile, const QString &keyFile)
{
    certificate = QFileInfo(certificateFile).absoluteFilePath();
    key = QFileInfo(keyFile).absoluteFilePath();
}

bool NginxServer::start()
{
    // The free port found can be taken by another process before nginx binds it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        httpPort = freeLoopbackPort();
        httpsPort = certificate.isEmpty() ? 0 : freeLoopbackPort();
        QFile file(prefix.filePath(QStringLiteral("nginx.conf")));
        if (!prefix.isValid() || httpPort == 0 || !file.open(QIODevice::WriteOnly) || file.write(configuration().toUtf8()) < 0)
            return false;
        file.close();
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral("nginx"), {QStringLiteral("-p"), prefix.path() + QLatin1Char('/'), QStringLiteral("-c"),
                                                file.fileName(), QStringLiteral("-e"), prefix.filePath(QStringLiteral("error.log"))});
        const QDeadlineTimer deadline(10000);
        while (process.waitForStarted() && !deadline.hasExpired() && process.state() == QProcess::Running) {
            if (accepts(httpPort) && (httpsPort == 0 || accepts(httpsPort)))
                return true;
            QThread::msleep(20);
        }
        process.kill();
        process.waitForFinished();
    }
    return false;
}

QString NginxServer::configuration() const
{
    const QString tls = httpsPort == 0 ? QString() : QStringLiteral(
            "listen 127.0.0.1:%1 ssl; ssl_certificate \"%2\"; ssl_certificate_key \"%3\";").arg(httpsPort).arg(certificate, key);
    // In the foreground and in one process, so that the process is the server and the
    // folders it serves need be readable by the user running the test only.
    return QStringLiteral(
                   "daemon off; master_process off; pid \"%1/nginx.pid\"; error_log \"%1/error.log\";\n"
                   "events { worker_connections 64; }\n"
                   "http { access_log off; sendfile on; default_type application/octet-stream;\n"
                   "    client_body_temp_path \"%1/body\"; proxy_temp_path \"%1/proxy\";\n"
                   "    fastcgi_temp_path \"%1/fastcgi\"; uwsgi_temp_path \"%1/uwsgi\"; scgi_temp_path \"%1/scgi\";\n"
                   "    server { listen 127.0.0.1:%2; %3 root \"%4\"; } }\n")
            .arg(prefix.path()).arg(httpPort).arg(tls, root);
}

QString NginxServer::httpUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(httpPort);
}

QString NginxServer::httpsUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(httpsPort);
}
