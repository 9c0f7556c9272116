#ifndef TESTCERTIFICATES_H
#define TESTCERTIFICATES_H

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// A certificate authority of the test's own and a server certificate for 127.0.0.1
// and the machine's name that it signed, made with the openssl tool in folder; or,
// with selfSigned, a server certificate that signs itself.
struct TestCertificates
{
    bool create(const QString &folder, bool selfSigned = false);

    QString caFile;
    QString certificateFile;
    QString keyFile;

    QSslCertificate ca() const;
    QSslCertificate certificate() const;
    QSslKey key() const;
};

#endif
