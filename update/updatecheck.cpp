#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "update/manifestkeys.h"
#include "update/oscompatibility.h"
#include "update/packagename.h"
#include "update/versioncompare.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

void UpdaterApp::checkForUpdates()
{
    const QDir available(localPath + QLatin1String("/available"));
    updaterLog().info("Checking for downloaded updates in %s", qPrintable(available.absolutePath()));
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
    download(url, manifestPath, QString());
    evaluateUpdateManifest();
}

void UpdaterApp::evaluateUpdateManifest()
{
    QFile file(localPath + QLatin1Char('/') + manifestFileName);
    if (!file.open(QIODevice::ReadOnly)) {
        updaterLog().info("Could not open updates.json for reading");
        QCoreApplication::quit();
        return;
    }

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    file.close();
    const QJsonObject manifest = document.object();

    if (parseError.error != QJsonParseError::NoError) {
        updaterLog().info("Error parsing updates.json: %s", qPrintable(parseError.errorString()));
    } else if (manifest.isEmpty()) {
        updaterLog().info("No update information was found in updates.json");
    } else if (manifest.value(ManifestKey::md5).toString().isEmpty()) {
        updaterLog().info("Updates.json does not report MD5 hash for its package. "
                          "Without MD5 hash, we cannot download updates!");
    } else if (manifest.value(ManifestKey::os) != QJsonValue(manifestTargetOs)) {
        updaterLog().info("Target OS for the update is not compatible.");
    } else if (!isOsCompatible(manifest.value(ManifestKey::compatibleOsVersion).toString())) {
        updaterLog().info("Target OS Version is not compatible.");
    } else if (compareVersions(manifest.value(ManifestKey::version).toString(),
                               QCoreApplication::applicationVersion()) <= 0) {
        updaterLog().info("The most recent update has already been installed. No updates found.");
    } else if (!downloadPackage(manifest)) {
        updaterLog().info("    Updates could not be downloaded properly. "
                          "Deleting partially downloaded files to try again.");
        clearAvailableUpdates();
    }
    QCoreApplication::quit();
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
        updaterLog().info("    ERROR: Package name %s is not allowed.", qPrintable(name));
        return false;
    }
    const QUrl url = resolveRemoteUrl(name);
    const QString destination = localPath + QLatin1String("/available/") + name;
    const QString expectedMd5 = verify ? manifest.value(ManifestKey::md5).toString() : QString();
    return download(url, destination, expectedMd5);
}

void UpdaterApp::clearAvailableUpdates()
{
    const QString available = localPath + QLatin1String("/available/");
    QDir(available).removeRecursively();
    QDir().mkpath(available);
}
