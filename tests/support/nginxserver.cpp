#include "support/nginxserver.h"

#include <QDeadlineTimer>
#include <QDir>
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
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
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
        if (startOnce())
            return true;
    }
    return false;
}

bool NginxServer::startOnce()
{
    httpPort = freeLoopbackPort();
    httpsPort = certificate.isEmpty() ? 0 : freeLoopbackPort();
    if (!prefix.isValid() || httpPort == 0 || !writeConfiguration())
        return false;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral("nginx"),
                  {QStringLiteral("-p"), prefix.path() + QLatin1Char('/'),
                   QStringLiteral("-c"), prefix.filePath(QStringLiteral("nginx.conf")),
                   QStringLiteral("-e"), prefix.filePath(QStringLiteral("error.log"))});
    if (!process.waitForStarted())
        return false;
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        if (accepts(httpPort) && (httpsPort == 0 || accepts(httpsPort)))
            return true;
        QThread::msleep(20);
    }
    process.kill();
    process.waitForFinished();
    return false;
}

bool NginxServer::writeConfiguration() const
{
    QFile file(prefix.filePath(QStringLiteral("nginx.conf")));
    const QByteArray text = configuration().toUtf8();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QString NginxServer::configuration() const
{
    const QString temporary = prefix.path();
    QString tls;
    if (httpsPort != 0) {
        tls = QStringLiteral("        listen 127.0.0.1:%1 ssl;\n"
                             "        ssl_certificate \"%2\";\n"
                             "        ssl_certificate_key \"%3\";\n")
                      .arg(httpsPort).arg(certificate, key);
    }
    // In the foreground and in one process, so that the process is the server and the
    // folders it serves need be readable by the user running the test only.
    return QStringLiteral(
                   "daemon off;\n"
                   "master_process off;\n"
                   "pid \"%1/nginx.pid\";\n"
                   "error_log \"%1/error.log\";\n"
                   "events { worker_connections 64; }\n"
                   "http {\n"
                   "    access_log off;\n"
                   "    client_body_temp_path \"%1/body\";\n"
                   "    proxy_temp_path \"%1/proxy\";\n"
                   "    fastcgi_temp_path \"%1/fastcgi\";\n"
                   "    uwsgi_temp_path \"%1/uwsgi\";\n"
                   "    scgi_temp_path \"%1/scgi\";\n"
                   "    types { application/json json; }\n"
                   "    default_type application/octet-stream;\n"
                   "    sendfile on;\n"
                   "    server {\n"
                   "        listen 127.0.0.1:%2;\n"
                   "%3"
                   "        root \"%4\";\n"
                   "    }\n"
                   "}\n")
            .arg(temporary).arg(httpPort).arg(tls, root);
}

QString NginxServer::httpUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(httpPort);
}

QString NginxServer::httpsUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(httpsPort);
}
