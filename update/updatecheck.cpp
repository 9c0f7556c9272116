#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "log/urlforlog.h"
#include "platform/ownfolder.h"
#include "transfer/serverwait.h"
#include "update/installidentity.h"
#include "update/manifestkeys.h"
#include "update/manifestrules.h"
#include "update/minisign.h"
#include "update/packagename.h"
#include "update/signaturefreshness.h"

#include <QDir>
#include <QFile>

void UpdaterApp::checkForUpdates()
{
    const QDir available(localPath + QLatin1String("/available"));
    updaterLog().info("Checking for downloaded updates in %s", qUtf8Printable(available.absolutePath()));
    const QFileInfoList waiting =
            available.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    if (waiting.isEmpty()) {
        updaterLog().info("No update was already downloaded.");
        updateFromRemotePaths();
    } else {
        updaterLog().info("Previously installed updates are yet to be installed.");
    }
    QCoreApplication::quit();
}

// The remote paths in turn, until one yields a manifest that is taken: downloaded, and
// signed where keys are built in. What that manifest answers ends the run; a package that
// fails sends the run on to the next path's own manifest.
void UpdaterApp::updateFromRemotePaths()
{
    for (int i = 0; i < remotePaths.size() && !shutdownRequested; ++i) {
        remotePath = remotePaths.at(i);
        if (i > 0)
            updaterLog().info("Trying next remote path %s", qUtf8Printable(urlForLog(remotePath)));
        if (isServerWaitPending())
            continue;
        QByteArray manifest;
        QJsonObject offer;
        if (fetchUpdateManifest(manifest) && isManifestTaken(manifest)) {
            if (!acceptUpdateManifest(manifest, QCoreApplication::applicationVersion(), !trustedKeys.isEmpty(), offer)
                    || !isOfferedToThisInstall(offer) || downloadPackage(offer))
                return;
            updaterLog().info("    Updates could not be downloaded properly. "
                              "Deleting partially downloaded files to try again.");
            clearAvailableUpdates();
        }
        if (serverWaitUntil.isValid())
            keepServerWait(stagingFolder(), remotePath, serverWaitUntil);
    }
}

bool UpdaterApp::isServerWaitPending()
{
    const QDateTime until = keptServerWait(stagingFolder(), remotePath, QDateTime::currentDateTimeUtc());
    if (until.isValid())
        updaterLog().info("Server asked to wait until %s; not checking before then.",
                          qUtf8Printable(serverWaitText(until)));
    return until.isValid();
}

// The bytes that are verified are the bytes that are evaluated.
bool UpdaterApp::fetchUpdateManifest(QByteArray &manifest)
{
    const QUrl url = resolveRemoteUrl(manifestFileName);
    const QString manifestPath = localPath + QLatin1Char('/') + manifestFileName;
    if (QFile::exists(manifestPath))
        QFile::remove(manifestPath);
    ExpectedFile expected;
    expected.sizeLimit = manifestSizeLimit;
    download(url, manifestPath, expected);
    QFile file(manifestPath);
    if (!file.open(QIODevice::ReadOnly)) {
        updaterLog().info("Could not open updates.json for reading");
        return false;
    }
    manifest = file.readAll();
    return true;
}

// Where keys are built in, only a manifest with a good signature is taken, and the
// copies of any other go.
bool UpdaterApp::isManifestTaken(const QByteArray &manifest)
{
    if (trustedKeys.isEmpty() || verifyManifestSignature(manifest))
        return true;
    QFile::remove(localPath + QLatin1Char('/') + manifestFileName);
    QFile::remove(localPath + QLatin1Char('/') + signatureFileName);
    return false;
}

bool UpdaterApp::verifyManifestSignature(const QByteArray &manifest)
{
    const QString signaturePath = localPath + QLatin1Char('/') + signatureFileName;
    if (QFile::exists(signaturePath))
        QFile::remove(signaturePath);
    ExpectedFile expected;
    expected.sizeLimit = manifestSizeLimit;
    const bool downloaded = download(resolveRemoteUrl(signatureFileName), signaturePath, expected);
    updaterLog().info("Verifying signature of updates.json ...");
    QFile file(signaturePath);
    if (!downloaded || !file.open(QIODevice::ReadOnly)) {
        updaterLog().info("    FAILURE: updates.json is not signed.");
        return false;
    }
    QString keyId;
    QByteArray trustedComment;
    switch (checkSignature(manifest, file.read(maxSignatureFileSize + 1), trustedKeys, keyId, trustedComment)) {
    case SignatureCheck::Valid:
        updaterLog().info("    SUCCESS: updates.json is signed by key %s.", qUtf8Printable(keyId));
        return takeSignedStatement(trustedComment, stagingFolder());
    case SignatureCheck::Malformed:
        updaterLog().info("    FAILURE: signature of updates.json is malformed.");
        return false;
    case SignatureCheck::UntrustedKey:
        updaterLog().info("    FAILURE: updates.json is signed by key %s, which is not trusted.",
                          qUtf8Printable(keyId));
        return false;
    case SignatureCheck::Mismatch:
        updaterLog().info("    FAILURE: signature of updates.json does not match.");
        return false;
    }
    return false;
}

bool UpdaterApp::isOfferedToThisInstall(const QJsonObject &offer)
{
    if (statedRollout(offer) >= 100)
        return true;
    QByteArray identity;
    return installIdentity(localPath, identity)
            && isRolledOutTo(offer, rolloutPlace(identity, offer.value(ManifestKey::version).toString()));
}

bool UpdaterApp::downloadPackage(const QJsonObject &manifest)
{
    return downloadItem(manifest, ManifestKey::package, true);
}

bool UpdaterApp::downloadItem(const QJsonObject &manifest, const QString &key, bool verify)
{
    const QString name = manifest.value(key).toString();
    if (name.isEmpty())
        return true;
    // The name comes from the server; it must not reach outside the available folder.
    if (!isPackageNameAllowed(name)) {
        updaterLog().info("    ERROR: Package name %s is not allowed.", qUtf8Printable(name));
        return false;
    }
    const QUrl url = resolveRemoteUrl(name);
    const QString destination = localPath + QLatin1String("/available/") + name;
    ExpectedFile expected;
    if (verify) {
        expected.md5 = manifest.value(ManifestKey::md5).toString();
        expected.sha256 = manifest.value(ManifestKey::sha256).toString();
        expected.size = statedPackageSize(manifest);
    }
    return download(url, destination, expected);
}

void UpdaterApp::clearAvailableUpdates()
{
    const QString available = localPath + QLatin1String("/available/");
    emptyFolder(available);
    QDir().mkpath(available);
}
