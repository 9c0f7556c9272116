#include "publish/verification.h"

#include "publish/console.h"
#include "publish/exitcodes.h"
#include "publish/filedigest.h"
#include "publish/logcapture.h"
#include "publish/remotefolder.h"
#include "transfer/digestcheck.h"
#include "update/manifestkeys.h"
#include "update/manifestrules.h"
#include "update/oscompatibility.h"
#include "update/packagename.h"
#include "update/updaterversion.h"

#include <QFile>
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

QVector<Decision> decideOnEachWindows(const QByteArray &manifest, QJsonObject &offer)
{
    QVector<Decision> decisions;
    const QStringList names = osVersionNames();
    for (int i = 0; i < names.size(); ++i) {
        const int rank = i + 1;
        LogCapture log;
        QJsonObject accepted;
        const bool accepts = acceptUpdateManifest(manifest, updaterVersion, false, accepted, [rank] { return rank; });
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
    // The updater creates no folders below its available folder, which it keeps empty.
    if (name.contains(QLatin1Char('/'))) {
        printProblem(who + QStringLiteral(" would fail to store the package \"%1\": it has a folder part.").arg(name));
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
    printResult(who + QStringLiteral(" would download %1 (%2 bytes, MD5 %3), verify it and keep it "
                                     "for installation as version %4.")
                          .arg(name, QString::number(digest.size), digest.md5,
                               offer.value(ManifestKey::version).toString()));
    return true;
}
}

int verifyPublishedUpdate(const QString &remoteDir)
{
    const QString manifestPath = publishedManifestPath(remoteDir);
    QFile file(manifestPath);
    if (!file.open(QIODevice::ReadOnly)) {
        printProblem(QStringLiteral("An updater of version %1 would find no update: cannot read %2: %3.")
                             .arg(updaterVersion, manifestPath, file.errorString()));
        return NoUpdateOffered;
    }

    QJsonObject offer;
    const QVector<Decision> decisions = decideOnEachWindows(file.readAll(), offer);
    bool installs = false;
    for (const Decision &decision : decisions) {
        if (decision.refusal.isNull())
            installs = checkPackage(remoteDir, offer, updaterOn(decision.windows));
        else
            printProblem(updaterOn(decision.windows) + QStringLiteral(" would not install an update: ")
                         + decision.refusal);
    }
    return installs ? Success : NoUpdateOffered;
}
