#include "app/updaterapp.h"

#include "log/logmessage.h"
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
        fetchUpdateManifest();
    } else {
        updaterLog().info("Previously installed updates are yet to be installed.");
        QCoreApplication::quit();
    }
}

void UpdaterApp::fetchUpdateManifest()
{
    const QUrl url = resolveRemoteUrl(manifestFileName);
    const QString manifestPath = localPath + QLatin1Char('/') + manifestFileName;
    if (QFile::exists(manifestPath))
        QFile::remove(manifestPath);
    ExpectedFile expected;
    expected.sizeLimit = manifestSizeLimit;
    download(url, manifestPath, expected);
    evaluateUpdateManifest();
}

void UpdaterApp::evaluateUpdateManifest()
{
    const QString manifestPath = localPath + QLatin1Char('/') + manifestFileName;
    QFile file(manifestPath);
    if (!file.open(QIODevice::ReadOnly)) {
        updaterLog().info("Could not open updates.json for reading");
        QCoreApplication::quit();
        return;
    }
    // The bytes that are verified are the bytes that are evaluated.
    const QByteArray manifest = file.readAll();
    file.close();

    const bool signedUpdates = !trustedKeys.isEmpty();
    if (signedUpdates && !verifyManifestSignature(manifest)) {
        QFile::remove(manifestPath);
        QFile::remove(localPath + QLatin1Char('/') + signatureFileName);
        QCoreApplication::quit();
        return;
    }
    QJsonObject offer;
    if (acceptUpdateManifest(manifest, QCoreApplication::applicationVersion(), signedUpdates, offer)
            && !downloadPackage(offer)) {
        updaterLog().info("    Updates could not be downloaded properly. "
                          "Deleting partially downloaded files to try again.");
        clearAvailableUpdates();
    }
    QCoreApplication::quit();
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
    QDir(available).removeRecursively();
    QDir().mkpath(available);
}
