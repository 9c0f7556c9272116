#include "publish/signing.h"

#include "update/manifestkeys.h"
#include "update/minisign.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

bool signManifest(const QByteArray &manifest, const QString &keyPath, QByteArray &signature, QString &error)
{
    QTemporaryDir folder;
    if (!folder.isValid()) {
        error = folder.errorString();
        return false;
    }
    // Named like the published file, which minisign names in the trusted comment.
    const QString manifestPath = folder.filePath(manifestFileName);
    const QString signaturePath = folder.filePath(signatureFileName);
    QFile text(manifestPath);
    if (!text.open(QIODevice::WriteOnly) || text.write(manifest) != manifest.size() || !text.flush()) {
        error = text.errorString();
        return false;
    }
    text.close();

    // minisign asks the person at the terminal for the key's password, if it has one,
    // and says there why it fails.
    QProcess minisign;
    minisign.setProcessChannelMode(QProcess::ForwardedChannels);
    minisign.setInputChannelMode(QProcess::ForwardedInputChannel);
    minisign.start(QStringLiteral("minisign"),
                   {QStringLiteral("-S"), QStringLiteral("-s"), QDir::toNativeSeparators(keyPath),
                    QStringLiteral("-m"), QDir::toNativeSeparators(manifestPath),
                    QStringLiteral("-x"), QDir::toNativeSeparators(signaturePath)});
    if (!minisign.waitForFinished(-1)) {
        error = QStringLiteral("cannot run minisign: ") + minisign.errorString();
        return false;
    }
    if (minisign.exitStatus() != QProcess::NormalExit || minisign.exitCode() != 0) {
        error = QStringLiteral("minisign exited with code %1").arg(minisign.exitCode());
        return false;
    }
    QFile output(signaturePath);
    if (!output.open(QIODevice::ReadOnly)) {
        error = output.errorString();
        return false;
    }
    signature = output.read(maxSignatureFileSize + 1);
    MinisignSignature readable;
    if (!readMinisignSignature(signature, readable)) {
        error = QStringLiteral("minisign wrote no signature the updater can read");
        return false;
    }
    return true;
}
