#include "publish/signing.h"

#include "update/manifestkeys.h"
#include "update/minisign.h"
#include "update/signedstatement.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {
// minisign asks the person at the terminal for the key's password, if it has one,
// and says there why it fails.
bool runMinisign(const QStringList &arguments, QString &error)
{
    QProcess minisign;
    minisign.setProcessChannelMode(QProcess::ForwardedChannels);
    minisign.setInputChannelMode(QProcess::ForwardedInputChannel);
    minisign.start(QStringLiteral("minisign"), arguments);
    if (!minisign.waitForFinished(-1)) {
        error = QStringLiteral("cannot run minisign: ") + minisign.errorString();
        return false;
    }
    if (minisign.exitStatus() != QProcess::NormalExit || minisign.exitCode() != 0) {
        error = QStringLiteral("minisign exited with code %1").arg(minisign.exitCode());
        return false;
    }
    return true;
}

bool readOutput(const QString &path, QByteArray &text, QString &error)
{
    QFile output(path);
    if (!output.open(QIODevice::ReadOnly)) {
        error = output.errorString();
        return false;
    }
    text = output.read(maxSignatureFileSize + 1);
    return true;
}
}

bool signManifest(const QByteArray &manifest, const QString &keyPath, int expiresDays, QByteArray &signature,
                  QString &error)
{
    QTemporaryDir folder;
    if (!folder.isValid()) {
        error = folder.errorString();
        return false;
    }
    const QString manifestPath = folder.filePath(manifestFileName);
    const QString signaturePath = folder.filePath(signatureFileName);
    QFile text(manifestPath);
    if (!text.open(QIODevice::WriteOnly) || text.write(manifest) != manifest.size() || !text.flush()) {
        error = text.errorString();
        return false;
    }
    text.close();

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QByteArray statement = signedStatementText(now, now + qint64(expiresDays) * 24 * 60 * 60);
    if (!runMinisign({QStringLiteral("-S"), QStringLiteral("-s"), QDir::toNativeSeparators(keyPath),
                      QStringLiteral("-t"), QString::fromLatin1(statement),
                      QStringLiteral("-m"), QDir::toNativeSeparators(manifestPath),
                      QStringLiteral("-x"), QDir::toNativeSeparators(signaturePath)}, error)
            || !readOutput(signaturePath, signature, error))
        return false;
    MinisignSignature readable;
    if (!readMinisignSignature(signature, readable) || readable.trustedComment != statement) {
        error = QStringLiteral("minisign wrote no signature the updater can read");
        return false;
    }
    return true;
}

QString signingReport(const QByteArray &signature)
{
    MinisignSignature readable;
    SignedStatement statement;
    readMinisignSignature(signature, readable);
    // Read for the times it states, which signManifest made sure of.
    checkSignedStatement(readable.trustedComment, 0, statement);
    return QStringLiteral("Signed updates.json with key %1 at %2, valid until %3.")
            .arg(keyIdText(readable.keyId), utcText(statement.timestamp), utcText(statement.expires));
}

bool readPublicKeyOfSecretKey(const QString &keyPath, QString &keyText, QString &error)
{
    QTemporaryDir folder;
    if (!folder.isValid()) {
        error = folder.errorString();
        return false;
    }
    const QString publicKeyPath = folder.filePath(QStringLiteral("key.pub"));
    QByteArray text;
    if (!runMinisign({QStringLiteral("-R"), QStringLiteral("-s"), QDir::toNativeSeparators(keyPath),
                      QStringLiteral("-p"), QDir::toNativeSeparators(publicKeyPath)}, error)
            || !readOutput(publicKeyPath, text, error))
        return false;
    // The key is the last line, after minisign's untrusted comment.
    keyText = QString::fromLatin1(text).trimmed().section(QLatin1Char('\n'), -1);
    MinisignKey key;
    if (!readMinisignKey(keyText, key)) {
        error = QStringLiteral("minisign wrote no public key the tool can read");
        return false;
    }
    return true;
}
