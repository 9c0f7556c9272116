#include "fuzz/fuzzsupport.h"
#include "update/manifestkeys.h"
#include "update/manifestrules.h"
#include "update/packagename.h"
#include "update/versioncompare.h"

#include <QDir>
#include <QJsonValue>
#include <QUrl>

#include <sanitizer/lsan_interface.h>

// Input: the bytes of updates.json. Runs the decision chain for every rank of the
// running Windows, up to the point where the package download would start.
namespace {
const QString runningVersion = QStringLiteral("2.0.1610051745");
const QString remoteBase = QStringLiteral("https://updates.orvella.test/base");
const QString available = QStringLiteral("/home/user/updates/available/"); // never touched
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzedApp().setRemotePath(remoteBase + remoteFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    bool accepts[12];
    QString rule;
    for (int rank = 0; rank <= 11; ++rank) {
        // The upper half of the ranks runs as an updater that trusts signing keys.
        const bool signedUpdates = rank > 5;
        QJsonObject offer;
        {
            // Qt 5.15's JSON parser leaks the earlier value of a key given twice ({"a":{},"a":1}),
            // with stacks that end inside Qt; leaks are looked for in the rest of the chain.
            const __lsan::ScopedDisabler qtJsonParser;
            accepts[rank] = acceptUpdateManifest(text, runningVersion, signedUpdates, offer, [rank] { return rank % 6; });
        }
        expect(accepts[rank] != offer.isEmpty(), "exactly an accepted manifest makes an offer");
        if (!accepts[rank])
            continue;
        expect(!offer.value(ManifestKey::md5).toString().isEmpty(), "an offer has a digest");
        expect(!signedUpdates || (offer.value(ManifestKey::sha256).toString().size() == 64 && statedPackageSize(offer) >= 0),
               "a signed offer pins its package with SHA-256 and size");
        expect(statedPackageSize(offer) >= -1, "an offer states no negative size");
        expect(offer.value(ManifestKey::os) == QJsonValue(manifestTargetOs), "an offer is for Windows");
        expect(compareVersions(offer.value(ManifestKey::version).toString(), runningVersion) == 1,
               "an offer is more recent than the running version");
        rule = offer.value(ManifestKey::compatibleOsVersion).toString().trimmed();

        // What UpdaterApp::downloadItem does with the offer before it starts the download.
        const QString name = offer.value(ManifestKey::package).toString();
        if (name.isEmpty() || !isPackageNameAllowed(name))
            continue;
        const QUrl url = fuzzedApp().resolveRemoteUrl(name);
        const QUrl base(remoteBase);
        expect(url.isValid() && url.scheme() == base.scheme() && url.host() == base.host() && url.port() == base.port(),
               "the package comes from the remote base's server", name);
        expect(!url.path().contains(QLatin1String("//")), "the package path holds no \"//\"", name);
        expect(QDir::cleanPath(available + name).startsWith(available), "the package is stored inside the available folder", name);
    }
    // The other rules do not depend on the Windows, so the ranks accepted are the rule's.
    if (rule.isEmpty() || rule == QLatin1String("any"))
        return 0;
    const bool orNewer = rule.endsWith(QLatin1Char('+'));
    const bool orOlder = rule.endsWith(QLatin1Char('-'));
    expect(orOlder || !accepts[0], "only a \"-\" rule admits Windows before 7", rule);
    expect(orNewer || !accepts[5], "only a \"+\" rule admits an unknown Windows", rule);
    for (int rank = 1; rank <= 5; ++rank) {
        expect(orNewer || orOlder || !accepts[rank - 1] || !accepts[rank], "a rule without suffix admits one version", rule);
        expect(!orNewer || !accepts[rank - 1] || accepts[rank], "a \"+\" rule admits every newer version", rule);
        expect(!orOlder || !accepts[rank] || accepts[rank - 1], "a \"-\" rule admits every older version", rule);
    }
    return 0;
}
