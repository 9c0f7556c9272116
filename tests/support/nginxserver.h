#ifndef NGINXSERVER_H
#define NGINXSERVER_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The system's nginx serving one folder on 127.0.0.1, with its own configuration and
// prefix in a temporary folder, as a child process that stops with the object. Under
// wine, which cannot run it as a child, the nginx that the test harness started for all
// tests (UPDATER_TEST_SERVERS), with its self-signed certificate for https.
class NginxServer
{
public:
    explicit NginxServer(const QString &rootFolder);
    ~NginxServer();

    // Also serves https, with this certificate and key (PEM files).
    void enableHttps(const QString &certificateFile, const QString &keyFile);
    // False when nginx could not be started or did not accept connections.
    bool start();

    // Base URLs without a trailing slash, such as http://127.0.0.1:PORT.
    QString httpUrl() const;
    QString httpsUrl() const;

private:
    QString configuration() const;

    QString root;
    QString certificate;
    QString key;
    QTemporaryDir prefix;
    QProcess process;
    quint16 httpPort = 0;
    quint16 httpsPort = 0;
    QString urlPath; // of root below the folder that a shared nginx serves
};

#endif
