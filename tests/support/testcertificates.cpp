#include "support/testcertificates.h"

#include "support/sandbox.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QProcess>

namespace {

bool openssl(const QString &folder, const QString &arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments.split(QLatin1Char(' ')));
    const bool done = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    if (!done)
        qWarning("openssl %s: %s", qPrintable(arguments), process.readAll().constData());
    return done;
}

// Also valid for the machine's own name, by which tests reach a server through a proxy.
QString newServerKey()
{
    return QLatin1String(" -newkey rsa:2048 -nodes -keyout server.key -subj /CN=127.0.0.1 "
                         "-addext subjectAltName=IP:127.0.0.1,DNS:") + QHostInfo::localHostName();
}

}

bool TestCertificates::create(const QString &folder, bool selfSigned)
{
    caFile = folder + QLatin1String(selfSigned ? "/server.pem" : "/ca.pem");
    certificateFile = folder + QLatin1String("/server.pem");
    keyFile = folder + QLatin1String("/server.key");
#ifdef Q_OS_WIN
    // Wine cannot run openssl as a child: the test harness made both kinds beforehand.
    const QDir made(qEnvironmentVariable("UPDATER_TEST_SERVERS") + QLatin1String("/certificates/")
                    + QLatin1String(selfSigned ? "self-signed" : "ca-signed"));
    for (const QString &name : {QStringLiteral("ca.pem"), QStringLiteral("server.pem"), QStringLiteral("server.key")}) {
        if (!QFile::copy(made.filePath(name), folder + QLatin1Char('/') + name))
            return false;
    }
    return true;
#endif
    if (selfSigned)
        return openssl(folder, QLatin1String("req -x509 -days 2 -out server.pem") + newServerKey());
    return openssl(folder, QStringLiteral("req -x509 -days 2 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem "
                                          "-subj /CN=Updater-Test-CA"))
            && openssl(folder, QLatin1String("req -out server.csr") + newServerKey())
            && openssl(folder, QStringLiteral("x509 -req -days 2 -in server.csr -CA ca.pem -CAkey ca.key "
                                              "-CAcreateserial -copy_extensions copy -out server.pem"));
}

QSslCertificate TestCertificates::ca() const
{
    return QSslCertificate(readFile(caFile));
}

QSslCertificate TestCertificates::certificate() const
{
    return QSslCertificate(readFile(certificateFile));
}

QSslKey TestCertificates::key() const
{
    return QSslKey(readFile(keyFile), QSsl::Rsa);
}
