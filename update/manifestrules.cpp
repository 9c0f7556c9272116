#include "update/manifestrules.h"

#include "log/logmessage.h"
#include "update/manifestkeys.h"
#include "update/versioncompare.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLocale>
#include <QRegularExpression>

#include <openssl/sha.h>

#include <cmath>

namespace {
// Beyond 2^53 a JSON number no longer holds every whole number exactly.
constexpr double largestExactSize = 9007199254740992.0;

bool isSha256Text(const QJsonValue &value)
{
    static const QRegularExpression hexDigits(
            QRegularExpression::anchoredPattern(QStringLiteral("[0-9A-Fa-f]{64}")));
    return value.isString() && hexDigits.match(value.toString()).hasMatch();
}

bool refuseMalformed(QLatin1String key)
{
    updaterLog().info("Updates.json reports a malformed %s.", key.data());
    return false;
}

bool isSizeValue(const QJsonValue &value)
{
    const double size = value.toDouble(-1);
    return value.isDouble() && size >= 0 && size <= largestExactSize && std::floor(size) == size;
}
}

bool acceptUpdateManifest(const QByteArray &text, const QString &runningVersion,
                          bool requireSha256AndSize, QJsonObject &offer,
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
    if (requireSha256AndSize
            && (!manifest.contains(ManifestKey::sha256) || !manifest.contains(ManifestKey::size))) {
        updaterLog().info("Updates.json does not report SHA-256 hash and size for its package.");
        return false;
    }
    if (manifest.contains(ManifestKey::sha256) && !isSha256Text(manifest.value(ManifestKey::sha256)))
        return refuseMalformed(ManifestKey::sha256);
    if (manifest.contains(ManifestKey::size) && !isSizeValue(manifest.value(ManifestKey::size)))
        return refuseMalformed(ManifestKey::size);
    if (manifest.contains(ManifestKey::rollout) && (!manifest.value(ManifestKey::rollout).isDouble()
                                                    || !isRolloutPercent(manifest.value(ManifestKey::rollout).toDouble())))
        return refuseMalformed(ManifestKey::rollout);
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

qint64 statedPackageSize(const QJsonObject &offer)
{
    return offer.contains(ManifestKey::size) ? qint64(offer.value(ManifestKey::size).toDouble()) : -1;
}

bool isRolloutPercent(double percent)
{
    return percent >= 0 && percent <= 100;
}

double statedRollout(const QJsonObject &offer)
{
    return offer.value(ManifestKey::rollout).toDouble(100);
}

QString rolloutText(double percent)
{
    // The shortest text that reads back as the same number; -0 is 0.
    return QString::number(percent + 0.0, 'f', QLocale::FloatingPointShortest);
}

double rolloutPlace(const QByteArray &installIdentity, const QString &version)
{
    const QByteArray input = installIdentity + version.toUtf8();
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(input.constData()), size_t(input.size()), digest);
    // The first 53 bits, as many as a double holds exactly, give a place below 100.
    quint64 bits = 0;
    for (int i = 0; i < 8; ++i)
        bits = (bits << 8) | digest[i];
    return double(bits >> 11) / double(quint64(1) << 53) * 100.0;
}

bool isRolledOutTo(const QJsonObject &offer, double place)
{
    const double rollout = statedRollout(offer);
    if (rollout >= 100 || place < rollout)
        return true;
    updaterLog().info("Update %s is being rolled out to %s percent of computers, not yet to this one.",
                      qUtf8Printable(offer.value(ManifestKey::version).toString()), qUtf8Printable(rolloutText(rollout)));
    return false;
}
