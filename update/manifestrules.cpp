#include "update/manifestrules.h"

#include "log/logmessage.h"
#include "update/manifestkeys.h"
#include "update/versioncompare.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

bool acceptUpdateManifest(const QByteArray &text, const QString &runningVersion, QJsonObject &offer,
                          const std::function<int()> &runningRank)
{
    QJsonParseError parseError;
    const QJsonObject manifest = QJsonDocument::fromJson(text, &parseError).object();
    if (parseError.error != QJsonParseError::NoError) {
        updaterLog().info("Error parsing updates.json: %s", qUtf8Printable(parseError.errorString()));
        return false;
    }
    if (manifest.isEmpty()) {
        updaterLog().info("No update information was found in updates.json");
        return false;
    }
    if (manifest.value(ManifestKey::md5).toString().isEmpty()) {
        updaterLog().info("Updates.json does not report MD5 hash for its package. "
                          "Without MD5 hash, we cannot download updates!");
        return false;
    }
    if (manifest.value(ManifestKey::os) != QJsonValue(manifestTargetOs)) {
        updaterLog().info("Target OS for the update is not compatible.");
        return false;
    }
    if (!isOsCompatible(manifest.value(ManifestKey::compatibleOsVersion).toString(), runningRank)) {
        updaterLog().info("Target OS Version is not compatible.");
        return false;
    }
    if (compareVersions(manifest.value(ManifestKey::version).toString(), runningVersion) <= 0) {
        updaterLog().info("The most recent update has already been installed. No updates found.");
        return false;
    }
    offer = manifest;
    return true;
}
