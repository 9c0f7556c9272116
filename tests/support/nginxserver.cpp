#include "support/nginxserver.h"

#include "support/sandbox.h"

#include <QFileInfo>
#include <QHostInfo>

NginxServer::NginxServer(const QString &rootFolder) : root(QFileInfo(rootFolder).absoluteFilePath()) {}

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
    // Valid also for the machine's own name, by which tests reach the server through a proxy.
    if (https && QProcess::execute(QStringLiteral("openssl"), {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-days"),
                QStringLiteral("2"), QStringLiteral("-out"), path(QStringLiteral("server.pem")), QStringLiteral("-newkey"),
                QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), path(QStringLiteral("server.key")),
                QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:") + QHostInfo::localHostName()}) != 0)
        return false;
    return launch(https ? 2 : 1, QStringLiteral("nginx.conf"), QStringLiteral("nginx"),
                  {QStringLiteral("-p"), path() + QLatin1Char('/'), QStringLiteral("-c"), path(QStringLiteral("nginx.conf")),
                   QStringLiteral("-e"), path(QStringLiteral("error.log"))});
}

QString NginxServer::configuration() const
{
    const QString tls = ports.size() < 2 ? QString() : QStringLiteral(
            "listen 127.0.0.1:%1 ssl; ssl_certificate \"%2/server.pem\"; ssl_certificate_key \"%2/server.key\";").arg(ports[1]).arg(path());
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
