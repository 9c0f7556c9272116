#include "publish/verification.h"

#include "publish/console.h"
#include "publish/exitcodes.h"
#include "publish/filedigest.h"
#include "publish/logcapture.h"
#include "publish/remotefolder.h"
#include "transfer/digestcheck.h"
#include "update/manifestkeys.h"
#include "update/manifestrules.h"
#include "update/minisign.h"
#include "update/oscompatibility.h"
#include "update/packagename.h"
#include "update/signedstatement.h"
#include "update/updaterversion.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QVector>

#include <algorithm>

namespace {
QString updaterOn(const QStringList &windows)
{
    return QStringLiteral("An updater of version %1 on Windows %2")
            .arg(updaterVersion, windows.join(QLatin1String(", ")));
}

// The Windows versions that reach the same decision, with the reason of a refusal
// (a null text when the manifest is accepted).
struct Decision
{
    QString refusal;
    QStringList windows;
};

QVector<Decision> decideOnEachWindows(const QByteArray &manifest, bool signedUpdates, QJsonObject &offer)
{
    QVector<Decision> decisions;
    const QStringList names = osVersionNames();
    for (int i = 0; i < names.size(); ++i) {
        const int rank = i + 1;
        LogCapture log;
        QJsonObject accepted;
        const bool accepts = acceptUpdateManifest(manifest, updaterVersion, signedUpdates, accepted,
                                                  [rank] { return rank; });
        const QString refusal = accepts ? QString() : log.lastLine();
        if (accepts)
            offer = accepted;
        auto same = std::find_if(decisions.begin(), decisions.end(),
                                 [&](const Decision &d) { return d.refusal == refusal; });
        if (same == decisions.end())
            decisions.append({refusal, {names.at(i)}});
        else
            same->windows.append(names.at(i));
    }
    return decisions;
}

// Whether the package the accepted manifest names is there as the updater would fetch it.
bool checkPackage(const QString &remoteDir, const QJsonObject &offer, const QString &who)
{
    const QString name = offer.value(ManifestKey::package).toString();
    if (name.isEmpty()) {
        printProblem(who + QStringLiteral(" would download nothing: updates.json names no package."));
        return false;
    }
    if (!isPackageNameAllowed(name)) {
        printProblem(who + QStringLiteral(" would refuse the package name \"%1\".").arg(name));
        return false;
    }
    const QString path = publishedFilePath(remoteDir, name);
    FileDigest digest;
    QString error;
    if (!digestFile(path, digest, error)) {
        printProblem(who + QStringLiteral(" would fail to download %1: %2.").arg(path, error));
        return false;
    }
    const QString expected = offer.value(ManifestKey::md5).toString();
    bool matches;
    {
        LogCapture quiet;
        matches = verifyDigest(digest.md5, expected);
    }
    if (!matches) {
        printProblem(who + QStringLiteral(" would download %1 and discard it as damaged: its MD5 is %2, "
                                          "updates.json states %3.").arg(name, digest.md5, expected));
        return false;
    }
    const QString sha256 = offer.value(ManifestKey::sha256).toString();
    const qint64 size = statedPackageSize(offer);
    if ((!sha256.isEmpty() && sha256.compare(digest.sha256, Qt::CaseInsensitive) != 0)
            || (size >= 0 && size != digest.size)) {
        printProblem(who + QStringLiteral(" would download %1 and discard it as damaged: it has %2 bytes and SHA-256 %3, "
                                          "updates.json states %4 bytes and %5.")
                                   .arg(name, QString::number(digest.size), digest.sha256, QString::number(size), sha256));
        return false;
    }
    printResult(who + QStringLiteral(" would download %1 (%2 bytes, MD5 %3), verify it and keep it "
                                     "for installation as version %4.")
                          .arg(name, QString::number(digest.size), digest.md5,
                               offer.value(ManifestKey::version).toString()));
    return true;
}

// The minisign public key that --public-key names: the RW... text, or a .pub file.
bool readPublicKeyOption(const QString &option, QString &keyText, MinisignKey &key)
{
    keyText = option;
    QFile file(option);
    if (QFileInfo(option).isFile() && file.open(QIODevice::ReadOnly))
        keyText = QString::fromLatin1(file.readAll()).trimmed().section(QLatin1Char('\n'), -1);
    return readMinisignKey(keyText, key);
}

// Without a key to check it with: whether a signature is there, and by which key.
void reportSignature(bool isSigned, const QByteArray &signature)
{
    MinisignSignature readable;
    if (!isSigned)
        printResult(QStringLiteral("updates.json is not signed."));
    else if (!readMinisignSignature(signature, readable))
        printResult(QStringLiteral("updates.json has a signature that is malformed."));
    else
        printResult(QStringLiteral("updates.json is signed by key %1 (--public-key checks the signature).")
                            .arg(keyIdText(readable.keyId)));
}

// The signature checked with the updater's own code, as an updater that trusts the key
// does: Success, or the exit code for why such an updater would refuse the manifest.
ExitCode checkSignatureWithKey(const QByteArray &manifest, bool isSigned, const QByteArray &signature,
                               const QString &keyText, const MinisignKey &key)
{
    const QString refusal = QStringLiteral("An updater that trusts key %1 would refuse updates.json: ")
                                    .arg(keyIdText(key.id));
    if (!isSigned) {
        printProblem(refusal + QStringLiteral("it is not signed."));
        return NoUpdateOffered;
    }
    QString keyId;
    QByteArray trustedComment;
    switch (checkSignature(manifest, signature, {keyText}, keyId, trustedComment)) {
    case SignatureCheck::Valid:
        break;
    case SignatureCheck::Malformed:
        printProblem(refusal + QStringLiteral("its signature is malformed."));
        return NoUpdateOffered;
    case SignatureCheck::UntrustedKey:
        printProblem(refusal + QStringLiteral("it is signed by key %1.").arg(keyId));
        return NoUpdateOffered;
    case SignatureCheck::Mismatch:
        printProblem(refusal + QStringLiteral("its signature does not match."));
        return NoUpdateOffered;
    }
    SignedStatement statement;
    switch (checkSignedStatement(trustedComment, QDateTime::currentSecsSinceEpoch(), statement)) {
    case StatementCheck::Current:
        printResult(QStringLiteral("updates.json is signed by key %1 at %2, valid until %3.")
                            .arg(keyId, utcText(statement.timestamp), utcText(statement.expires)));
        return Success;
    case StatementCheck::Unstated:
        printProblem(refusal + QStringLiteral("its signature does not state its time, file and expiry."));
        return NoUpdateOffered;
    case StatementCheck::OtherFile:
        printProblem(refusal + QStringLiteral("its signature was made for %1.").arg(statement.file));
        return NoUpdateOffered;
    case StatementCheck::Expired:
        printProblem(refusal + QStringLiteral("its signature, made at %1, expired at %2 (--resign renews it).")
                                       .arg(utcText(statement.timestamp), utcText(statement.expires)));
        return SignatureExpired;
    }
    return NoUpdateOffered;
}
}

int verifyPublishedUpdate(const QString &remoteDir, const QString &publicKey)
{
    QString keyText;
    MinisignKey key;
    if (!publicKey.isEmpty() && !readPublicKeyOption(publicKey, keyText, key)) {
        printProblem(QStringLiteral("--public-key: %1 is no minisign public key.").arg(publicKey));
        return UsageError;
    }
    const QString manifestPath = publishedManifestPath(remoteDir);
    QFile file(manifestPath);
    if (!file.open(QIODevice::ReadOnly)) {
        printProblem(QStringLiteral("An updater of version %1 would find no update: cannot read %2: %3.")
                             .arg(updaterVersion, manifestPath, file.errorString()));
        return NoUpdateOffered;
    }

    const QByteArray manifest = file.readAll();
    QFile signatureFile(publishedFilePath(remoteDir, signatureFileName));
    const bool isSigned = signatureFile.open(QIODevice::ReadOnly);
    const QByteArray signature = isSigned ? signatureFile.read(maxSignatureFileSize + 1) : QByteArray();
    if (publicKey.isEmpty())
        reportSignature(isSigned, signature);
    else if (const ExitCode refused = checkSignatureWithKey(manifest, isSigned, signature, keyText, key))
        return refused;
    QJsonObject offer;
    const QVector<Decision> decisions = decideOnEachWindows(manifest, !publicKey.isEmpty(), offer);
    bool installs = false;
    for (const Decision &decision : decisions) {
        if (decision.refusal.isNull())
            installs = checkPackage(remoteDir, offer, updaterOn(decision.windows));
        else
            printProblem(updaterOn(decision.windows) + QStringLiteral(" would not install an update: ")
                         + decision.refusal);
    }
    // The same share of installs on every Windows, each by its own place.
    if (installs && offer.contains(ManifestKey::rollout)) {
        printResult(QStringLiteral("Rolled out to %1 percent of computers; only those would.")
                            .arg(rolloutText(statedRollout(offer))));
        installs = statedRollout(offer) > 0;
    }
    return installs ? Success : NoUpdateOffered;
}
