#ifndef NGINXSERVER_H
#define NGINXSERVER_H

#include "support/loopbackdaemon.h"

#include <QString>

// The system's nginx serving one folder on 127.0.0.1, with its own configuration and
// prefix in a temporary folder, as a child process that stops with the object. Under
// wine, which cannot run it as a child, the nginx that the test harness started for all
// tests (UPDATER_TEST_SERVERS), with its self-signed certificate, no rate limit and no
// access log.
class NginxServer : public LoopbackDaemon
{
public:
    explicit NginxServer(const QString &rootFolder);

    // Also serves https, with a certificate that signs itself, made by openssl; before start().
    void enableHttps() { https = true; }
    // Sends at most this many bytes a second to each client, such as "200k"; before start().
    void limitRate(const QString &bytesPerSecond) { rateLimit = bytesPerSecond; }
    // False when nginx could not be started or did not accept connections.
    bool start();

    // Base URLs without a trailing slash, such as http://127.0.0.1:PORT; another name
    // of the loopback address may stand for the host.
    QString httpUrl(const QString &host = QStringLiteral("127.0.0.1")) const;
    QString httpsUrl(const QString &host = QStringLiteral("127.0.0.1")) const;
    // The status and body size of the last answer, such as "206 1000".
    QByteArray lastAccess() const;

protected:
    QString configuration() const override;

private:
    QString root;
    bool https = false;
    QString rateLimit = QStringLiteral("0");
    QString urlPath; // of root below the folder that the harness's nginx serves
};

#endif
