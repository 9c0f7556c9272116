#include "support/tinyproxy.h"

#include "support/sandbox.h"

bool TinyProxy::start(const QString &requiredCredentials)
{
    credentials = requiredCredentials;
    return launch(1, QStringLiteral("tinyproxy.conf"), QStringLiteral("tinyproxy"),
                  {QStringLiteral("-d"), QStringLiteral("-c"), path(QStringLiteral("tinyproxy.conf"))});
}

QString TinyProxy::configuration() const
{
    return QStringLiteral("Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\nLogLevel Connect\nLogFile \"%2\"\n%3\n")
            .arg(ports.value(0))
            .arg(path(QStringLiteral("tinyproxy.log")),
                 credentials.isEmpty() ? QString() : QLatin1String("BasicAuth ") + credentials);
}

QByteArray TinyProxy::log() const
{
    return readFile(path(QStringLiteral("tinyproxy.log")));
}
