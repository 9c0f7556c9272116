#include "support/nginxserver.h"

#include "support/loopbackport.h"
#include "support/sandbox.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

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
        httpPort = freeLoopbackPort();
        httpsPort = certificate.isEmpty() ? 0 : freeLoopbackPort();
        QFile file(prefix.filePath(QStringLiteral("nginx.conf")));
        const QByteArray text = configuration().toUtf8();
        if (!prefix.isValid() || httpPort == 0 || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || file.write(text) != text.size())
            return false;
        file.close();
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral("nginx"), {QStringLiteral("-p"), prefix.path() + QLatin1Char('/'),
                                                QStringLiteral("-c"), file.fileName(),
                                                QStringLiteral("-e"), prefix.filePath(QStringLiteral("error.log"))});
        const QDeadlineTimer deadline(10000);
        while (process.waitForStarted() && !deadline.hasExpired() && process.state() == QProcess::Running) {
            if (acceptsConnections(httpPort) && (httpsPort == 0 || acceptsConnections(httpsPort)))
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
                   "http {\n"
                   "    log_format transfer \"$status $body_bytes_sent\"; access_log \"%1/access.log\" transfer;\n"
                   "    sendfile on; limit_rate %5;\n"
                   "    client_body_temp_path \"%1/body\"; proxy_temp_path \"%1/proxy\";\n"
                   "    fastcgi_temp_path \"%1/fastcgi\"; uwsgi_temp_path \"%1/uwsgi\"; scgi_temp_path \"%1/scgi\";\n"
                   "    types { application/json json; }\n"
                   "    default_type application/octet-stream;\n"
                   "    server { listen 127.0.0.1:%2; %3 root \"%4\"; }\n"
                   "}\n")
            .arg(prefix.path()).arg(httpPort).arg(tls, root).arg(rateLimit);
}

QString NginxServer::httpUrl(const QString &host) const
{
    return QStringLiteral("http://%1:%2").arg(host).arg(httpPort);
}

QString NginxServer::httpsUrl(const QString &host) const
{
    return QStringLiteral("https://%1:%2").arg(host).arg(httpsPort);
}

QByteArray NginxServer::lastAccess() const
{
    return readFile(prefix.filePath(QStringLiteral("access.log"))).trimmed().split('\n').last();
}
