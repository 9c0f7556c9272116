#include "publish/publishing.h"

#include "publish/console.h"
#include "publish/exitcodes.h"
#include "publish/filedigest.h"
#include "publish/logcapture.h"
#include "publish/remotefolder.h"
#include "publish/signing.h"
#include "update/manifestkeys.h"
#include "update/manifestrules.h"
#include "update/oscompatibility.h"
#include "update/packagename.h"
#include "update/updaterversion.h"
#include "update/versioncompare.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {
QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

int refuse(ExitCode code, const QString &message)
{
    printProblem(QStringLiteral("Not published: ") + message);
    return code;
}

// The published manifest; an empty object when nothing usable is published, since a
// manifest no updater can read offers nothing that a new one could fall behind.
bool readPublishedManifest(const QString &manifestPath, QJsonObject &published, QString &error)
{
    QFile file(manifestPath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    published = QJsonDocument::fromJson(file.readAll()).object();
    return true;
}

// Whether two manifests differ in their rollout alone: a release team raising or
// halting a rollout publishes the same version and package again.
bool differsInRolloutOnly(QJsonObject published, QJsonObject manifest)
{
    published.remove(ManifestKey::rollout);
    manifest.remove(ManifestKey::rollout);
    return published == manifest;
}

// Copies source to destination under a temporary name beside it, renamed into place
// only when every byte arrived and they are the bytes that were checked before.
bool copyPackage(const QString &source, const QString &destination, const FileDigest &expected,
                 QString &error)
{
    QSaveFile output(destination);
    if (!output.open(QIODevice::WriteOnly)) {
        error = output.errorString();
        return false;
    }
    FileDigest copied;
    const bool read = digestFile(source, copied, error, [&output, &error](const QByteArray &chunk) {
        if (output.write(chunk) == chunk.size())
            return true;
        error = output.errorString();
        return false;
    });
    if (!read) {
        output.cancelWriting();
        return false;
    }
    if (copied != expected) {
        error = QStringLiteral("the package changed while it was being copied");
        output.cancelWriting();
        return false;
    }
    if (!output.commit()) {
        error = output.errorString();
        return false;
    }
    return true;
}

QJsonObject manifestOf(const PublishCommand &command, const QString &packageName, const FileDigest &digest)
{
    QJsonObject manifest{{ManifestKey::md5, digest.md5},
                         {ManifestKey::sha256, digest.sha256},
                         {ManifestKey::size, double(digest.size)},
                         {ManifestKey::os, manifestTargetOs},
                         {ManifestKey::version, command.version},
                         {ManifestKey::package, packageName}};
    if (command.hasOsRule)
        manifest.insert(ManifestKey::compatibleOsVersion, command.osRule);
    if (!command.rollout.isEmpty() && command.rollout.toDouble() < 100)
        manifest.insert(ManifestKey::rollout, command.rollout.toDouble());
    return manifest;
}

bool isRolloutOption(const QString &text)
{
    bool isNumber = false;
    const double percent = text.toDouble(&isNumber);
    return isNumber && isRolloutPercent(percent);
}

bool isNewerThanUpdaters(const QString &version)
{
    LogCapture quiet;
    return compareVersions(version, updaterVersion) > 0;
}
}

int publishUpdate(const PublishCommand &command)
{
    if (!QFileInfo(command.remoteDir).isDir())
        return refuse(InputRefused, QStringLiteral("the remote folder %1 does not exist.").arg(command.remoteDir));
    if (!isVersionWellFormed(command.version))
        return refuse(InputRefused, QStringLiteral("the version %1 is not made of decimal numbers or \"x\" "
                                                   "separated by \".\".").arg(quoted(command.version)));
    if (!command.force && !isNewerThanUpdaters(command.version)) {
        // A longer version that begins like the updater's looks newer to people only.
        const QString why = command.version.startsWith(updaterVersion + QLatin1Char('.'))
                ? QStringLiteral(", since a version with more components counts as older")
                : QString();
        return refuse(ConflictRefused, QStringLiteral("updaters of version %1 would not count version %2 as more "
                                                      "recent than their own%3, and would ignore the update "
                                                      "(--force publishes it anyway).")
                                               .arg(updaterVersion, command.version, why));
    }
    if (command.hasOsRule && !isOsRuleKnown(command.osRule))
        return refuse(InputRefused, QStringLiteral("the Windows version rule %1 names no version the updater "
                                                   "knows (any, or %2, optionally followed by \"+\" or \"-\").")
                                            .arg(quoted(command.osRule),
                                                 osVersionNames().join(QLatin1String(", "))));

    if (!command.rollout.isEmpty() && !isRolloutOption(command.rollout))
        return refuse(InputRefused, QStringLiteral("the rollout %1 is no percent from 0 to 100.")
                                            .arg(quoted(command.rollout)));

    const QString packageName = QFileInfo(command.packagePath).fileName();
    if (!isPackageNameAllowed(packageName))
        return refuse(InputRefused, QStringLiteral("the updater would refuse the package name %1.")
                                            .arg(quoted(packageName)));
    // Published beside the manifest and its signature, a package of either name would
    // replace one of them, on a case-insensitive server too.
    if (packageName.compare(manifestFileName, Qt::CaseInsensitive) == 0
            || packageName.compare(signatureFileName, Qt::CaseInsensitive) == 0)
        return refuse(InputRefused, QStringLiteral("a package cannot be named %1, like the manifest or its signature.")
                                            .arg(quoted(packageName)));
    FileDigest package;
    QString error;
    if (!digestFile(command.packagePath, package, error))
        return refuse(InputRefused, QStringLiteral("cannot read the package %1: %2.").arg(command.packagePath, error));

    const QString manifestPath = publishedManifestPath(command.remoteDir);
    QJsonObject publishedManifest;
    if (!readPublishedManifest(manifestPath, publishedManifest, error))
        return refuse(WriteFailed, QStringLiteral("cannot read the published %1: %2.").arg(manifestPath, error));
    const QJsonObject manifestObject = manifestOf(command, packageName, package);
    const QJsonValue publishedVersion = publishedManifest.value(ManifestKey::version);
    if (publishedVersion.isString() && !command.force && !differsInRolloutOnly(publishedManifest, manifestObject)) {
        LogCapture quiet;
        if (compareVersions(command.version, publishedVersion.toString()) <= 0)
            return refuse(ConflictRefused, QStringLiteral("an updater would not count version %1 as more recent "
                                                          "than the published version %2 (--force publishes it anyway).")
                                                   .arg(command.version, publishedVersion.toString()));
    }

    const QString destination = publishedFilePath(command.remoteDir, packageName);
    const bool packageWasThere = QFileInfo::exists(destination);
    FileDigest published;
    if (packageWasThere && !digestFile(destination, published, error))
        return refuse(WriteFailed, QStringLiteral("cannot read the published %1: %2.").arg(destination, error));
    const bool packageInPlace = packageWasThere && published == package;
    if (packageWasThere && !packageInPlace && !command.force)
        return refuse(ConflictRefused, QStringLiteral("a different %1 is already published, and updaters may be "
                                                      "downloading it (--force replaces it).").arg(packageName));
    const QString signaturePath = publishedFilePath(command.remoteDir, signatureFileName);
    const bool wasSigned = QFileInfo::exists(signaturePath);
    if (wasSigned && command.signKeyPath.isEmpty() && !command.force)
        return refuse(ConflictRefused, QStringLiteral("the published updates.json is signed, and an unsigned one would "
                                                      "stop every updater that checks signatures (--sign-key FILE "
                                                      "signs it, --force publishes it unsigned)."));

    const QByteArray manifest = QJsonDocument(manifestObject).toJson(QJsonDocument::Indented);
    QByteArray signature;
    if (!command.signKeyPath.isEmpty()
            && !signManifest(manifest, command.signKeyPath, command.expiresDays, signature, error))
        return refuse(SigningFailed, QStringLiteral("cannot sign with %1: %2.").arg(command.signKeyPath, error));

    // From here on the folder changes; a failure takes back what this run added.
    const QString folder = updateFolderPath(command.remoteDir);
    const bool folderWasThere = QFileInfo::exists(folder);
    const auto failWriting = [&](const QString &what) {
        if (!packageWasThere)
            QFile::remove(destination);
        if (!folderWasThere)
            QDir().rmdir(folder);
        return refuse(WriteFailed, what);
    };
    if (!QDir().mkpath(folder))
        return failWriting(QStringLiteral("cannot create the folder %1.").arg(folder));
    if (!packageInPlace && !copyPackage(command.packagePath, destination, package, error))
        return failWriting(QStringLiteral("cannot copy the package to %1: %2.").arg(destination, error));
    // A reader between the two renames meets a signature that does not match, refuses,
    // and takes the update on its next run.
    if (!signature.isEmpty() && !writeWhole(signaturePath, signature, error))
        return failWriting(QStringLiteral("cannot write %1: %2.").arg(signaturePath, error));
    if (signature.isEmpty() && wasSigned && !QFile::remove(signaturePath))
        return failWriting(QStringLiteral("cannot remove the stale %1.").arg(signaturePath));
    if (!writeWhole(manifestPath, manifest, error)) {
        const QString message = QStringLiteral("cannot write %1: %2.").arg(manifestPath, error);
        return failWriting(packageWasThere && !packageInPlace
                                   ? message + QStringLiteral(" The package was already replaced.")
                                   : message);
    }

    printResult(QStringLiteral("Published version %1: %2, %3 bytes, MD5 %4.")
                        .arg(command.version, packageName, QString::number(package.size), package.md5));
    if (manifestObject.contains(ManifestKey::rollout))
        printResult(QStringLiteral("Rolled out to %1 percent of computers.").arg(rolloutText(statedRollout(manifestObject))));
    if (!signature.isEmpty())
        printResult(signingReport(signature));
    return Success;
}
