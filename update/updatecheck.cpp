#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "update/manifestkeys.h"
#include "update/manifestrules.h"
#include "update/packagename.h"

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
    QFile file(localPath + QLatin1Char('/') + manifestFileName);
    if (!file.open(QIODevice::ReadOnly)) {
        updaterLog().info("Could not open updates.json for reading");
        QCoreApplication::quit();
        return;
    }

    QJsonObject offer;
    if (acceptUpdateManifest(file.readAll(), QCoreApplication::applicationVersion(), offer)
            && !downloadPackage(offer)) {
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
        updaterLog().info("    ERROR: Package name %s is not allowed.", qUtf8Printable(name));
        return false;
    }
    const QUrl url = resolveRemoteUrl(name);
    const QString destination = localPath + QLatin1String("/available/") + name;
    ExpectedFile expected;
    if (verify)
        expected.md5 = manifest.value(ManifestKey::md5).toString();
    return download(url, destination, expected);
}

void UpdaterApp::clearAvailableUpdates()
{
    const QString available = localPath + QLatin1String("/available/");
    QDir(available).removeRecursively();
    QDir().mkpath(available);
}
