#include "publish/resigning.h"

#include "publish/console.h"
#include "publish/exitcodes.h"
#include "publish/remotefolder.h"
#include "publish/signing.h"
#include "update/manifestkeys.h"
#include "update/minisign.h"

#include <QFile>

namespace {
int refuse(ExitCode code, const QString &message)
{
    printProblem(QStringLiteral("Not signed again: ") + message);
    return code;
}
}

int resignUpdate(const PublishCommand &command)
{
    const QString manifestPath = publishedManifestPath(command.remoteDir);
    QFile manifestFile(manifestPath);
    if (!manifestFile.open(QIODevice::ReadOnly))
        return refuse(WriteFailed, QStringLiteral("cannot read %1: %2.").arg(manifestPath, manifestFile.errorString()));
    const QByteArray manifest = manifestFile.read(manifestSizeLimit + 1);
    const QString signaturePath = publishedFilePath(command.remoteDir, signatureFileName);
    QFile signatureFile(signaturePath);
    const QByteArray signature =
            signatureFile.open(QIODevice::ReadOnly) ? signatureFile.read(maxSignatureFileSize + 1) : QByteArray();

    QString keyText;
    QString error;
    if (!readPublicKeyOfSecretKey(command.signKeyPath, keyText, error))
        return refuse(SigningFailed, QStringLiteral("cannot read the public key of %1: %2.").arg(command.signKeyPath, error));
    QString keyId;
    QByteArray trustedComment;
    if (checkSignature(manifest, signature, {keyText}, keyId, trustedComment) != SignatureCheck::Valid)
        return refuse(ConflictRefused, QStringLiteral("the published updates.json is not signed by the key of %1, so "
                                                      "this key never vouched for it (publish the update instead).")
                                               .arg(command.signKeyPath));
    QByteArray renewed;
    if (!signManifest(manifest, command.signKeyPath, command.expiresDays, renewed, error))
        return refuse(SigningFailed, QStringLiteral("cannot sign with %1: %2.").arg(command.signKeyPath, error));
    if (!writeWhole(signaturePath, renewed, error))
        return refuse(WriteFailed, QStringLiteral("cannot write %1: %2.").arg(signaturePath, error));
    printResult(signingReport(renewed));
    return Success;
}
