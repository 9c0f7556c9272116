#ifndef TINYPROXY_H
#define TINYPROXY_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The system's tinyproxy as a forward proxy on 127.0.0.1, with its own configuration
// and log in a temporary folder, as a child process that stops with the object.
class TinyProxy
{
public:
    ~TinyProxy();

    // With credentials ("user password"), every client must give them. False when
    // tinyproxy could not be started or did not accept connections.
    bool start(const QString &credentials = QString());
    // Such as http://127.0.0.1:PORT, for http_proxy and https_proxy.
    QString url() const;
    // The requests it was asked to forward, one "GET http://..." or "CONNECT host:port" each.
    QStringList requests() const;

private:
    QTemporaryDir prefix;
    QProcess process;
    quint16 port = 0;
};

#endif
