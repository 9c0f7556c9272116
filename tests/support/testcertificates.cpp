#include "support/testcertificates.h"

#include <QFile>
#include <QProcess>

namespace {

bool openssl(const QString &folder, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    const bool done = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    if (!done)
        qWarning("openssl %s: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                 process.readAll().constData());
    return done;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QStringList newKey{QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                         QStringLiteral("-nodes")};
const QString serverName = QStringLiteral("/CN=127.0.0.1");
const QString serverAltName = QStringLiteral("subjectAltName=IP:127.0.0.1");

}

bool TestCertificates::create(const QString &folder, bool selfSigned)
{
    caFile = folder + QLatin1String("/ca.pem");
    certificateFile = folder + QLatin1String("/server.pem");
    keyFile = folder + QLatin1String("/server.key");
    if (selfSigned) {
        caFile = certificateFile;
        return openssl(folder, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + newKey
                       + QStringList{QStringLiteral("-keyout"), keyFile,
                                     QStringLiteral("-out"), certificateFile,
                                     QStringLiteral("-days"), QStringLiteral("2"),
                                     QStringLiteral("-subj"), serverName,
                                     QStringLiteral("-addext"), serverAltName});
    }
    const QString caKey = folder + QLatin1String("/ca.key");
    const QString request = folder + QLatin1String("/server.csr");
    const QString extensions = folder + QLatin1String("/server.ext");
    QFile extensionFile(extensions);
    if (!extensionFile.open(QIODevice::WriteOnly) || extensionFile.write(serverAltName.toLatin1() + '\n') < 0)
        return false;
    extensionFile.close();
    return openssl(folder, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + newKey
                   + QStringList{QStringLiteral("-keyout"), caKey, QStringLiteral("-out"), caFile,
                                 QStringLiteral("-days"), QStringLiteral("2"),
                                 QStringLiteral("-subj"), QStringLiteral("/CN=Updater Test CA")})
            && openssl(folder, QStringList{QStringLiteral("req")} + newKey
                       + QStringList{QStringLiteral("-keyout"), keyFile,
                                     QStringLiteral("-out"), request,
                                     QStringLiteral("-subj"), serverName})
            && openssl(folder, {QStringLiteral("x509"), QStringLiteral("-req"),
                                QStringLiteral("-in"), request,
                                QStringLiteral("-CA"), caFile, QStringLiteral("-CAkey"), caKey,
                                QStringLiteral("-CAcreateserial"),
                                QStringLiteral("-out"), certificateFile,
                                QStringLiteral("-days"), QStringLiteral("2"),
                                QStringLiteral("-extfile"), extensions});
}

QSslCertificate TestCertificates::ca() const
{
    return QSslCertificate(contents(caFile));
}

QSslCertificate TestCertificates::certificate() const
{
    return QSslCertificate(contents(certificateFile));
}

QSslKey TestCertificates::key() const
{
    return QSslKey(contents(keyFile), QSsl::Rsa);
}
