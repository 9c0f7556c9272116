#include "support/nginxserver.h"

#include "support/sandbox.h"

#include <QFileInfo>

NginxServer::NginxServer(const QString &rootFolder) : root(QFileInfo(rootFolder).absoluteFilePath()) {}

void NginxServer::enableHttps(const QString &certificateFile, const QString &keyFile)
{
    certificate = QFileInfo(certificateFile).absoluteFilePath();
    key = QFileInfo(keyFile).absoluteFilePath();
}

bool NginxServer::start()
{
#ifdef Q_OS_WIN
    // "HTTP-PORT HTTPS-PORT FOLDER", where FOLDER is a Linux path; Z: is the Linux root.
    const QString servers = qEnvironmentVariable("UPDATER_TEST_SERVERS") + QLatin1String("/servers");
    const QStringList fields = QString::fromUtf8(readFile(servers)).trimmed().split(QLatin1Char(' '));
    const QString served = QStringLiteral("Z:") + fields.value(2);
    if (fields.size() != 3 || !root.startsWith(served + QLatin1Char('/'), Qt::CaseInsensitive))
        return false;
    ports = {fields.at(0).toUShort(), fields.at(1).toUShort()};
    urlPath = root.mid(served.size());
    return true;
#endif
    return launch(certificate.isEmpty() ? 1 : 2, QStringLiteral("nginx.conf"), QStringLiteral("nginx"),
                  {QStringLiteral("-p"), path() + QLatin1Char('/'), QStringLiteral("-c"), path(QStringLiteral("nginx.conf")),
                   QStringLiteral("-e"), path(QStringLiteral("error.log"))});
}

QString NginxServer::configuration() const
{
    const QString tls = ports.size() < 2 ? QString() : QStringLiteral(
            "listen 127.0.0.1:%1 ssl; ssl_certificate \"%2\"; ssl_certificate_key \"%3\";").arg(ports[1]).arg(certificate, key);
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
            .arg(path()).arg(ports.value(0)).arg(tls, root).arg(rateLimit);
}

QString NginxServer::httpUrl(const QString &host) const
{
    return QStringLiteral("http://%1:%2").arg(host).arg(ports.value(0)) + urlPath;
}

QString NginxServer::httpsUrl(const QString &host) const
{
    return QStringLiteral("https://%1:%2").arg(host).arg(ports.value(1)) + urlPath;
}

QByteArray NginxServer::lastAccess() const
{
    return readFile(path(QStringLiteral("access.log"))).trimmed().split('\n').last();
}
