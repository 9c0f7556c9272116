#ifndef TINYPROXY_H
#define TINYPROXY_H

#include "support/loopbackdaemon.h"

// The system's tinyproxy as a forward proxy on 127.0.0.1.
class TinyProxy : public LoopbackDaemon
{
public:
    // With credentials ("user password"), every client must give them. False when
    // tinyproxy could not be started or did not accept connections.
    bool start(const QString &credentials = QString());
    // Such as http://127.0.0.1:PORT, for http_proxy and https_proxy.
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(ports.value(0)); }
    // Its log, with a line for every request it was asked to forward.
    QByteArray log() const;

protected:
    QString configuration() const override;

private:
    QString credentials;
};

#endif
