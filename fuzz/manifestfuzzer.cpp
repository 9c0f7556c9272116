#include "fuzz/fuzzsupport.h"
#include "update/manifestkeys.h"
#include "update/manifestrules.h"
#include "update/packagename.h"
#include "update/versioncompare.h"

#include <QtCore>

#include <sanitizer/lsan_interface.h>

// Input: the bytes of updates.json. Runs the decision chain for every rank of the
// running Windows, up to the point where the package download would start.
namespace {
const QString runningVersion = QStringLiteral("2.0.1610051745");
const QString available = QStringLiteral("/home/user/updates/available/"); // never touched
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzedApp(); // whose log lines at fuzzing speed would bury libFuzzer's own
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    for (int rank = 0; rank <= 11; ++rank) {
        // The upper half of the ranks runs as an updater that trusts signing keys.
        const bool signedUpdates = rank > 5;
        QJsonObject offer;
        bool accepted;
        {
            // Qt 5.15's JSON parser leaks the earlier value of a key given twice ({"a":{},"a":1}),
            // with stacks that end inside Qt; leaks are looked for in the rest of the chain.
            const __lsan::ScopedDisabler qtJsonParser;
            accepted = acceptUpdateManifest(text, runningVersion, signedUpdates, offer, [rank] { return rank % 6; });
        }
        expect(accepted != offer.isEmpty(), "exactly an accepted manifest makes an offer");
        if (!accepted)
            continue;
        expect(!offer.value(ManifestKey::md5).toString().isEmpty(), "an offer has a digest");
        expect(!signedUpdates || (offer.value(ManifestKey::sha256).toString().size() == 64 && statedPackageSize(offer) >= 0),
               "a signed offer pins its package with SHA-256 and size");
        expect(statedPackageSize(offer) >= -1, "an offer states no negative size");
        expect(offer.value(ManifestKey::os) == QJsonValue(manifestTargetOs), "an offer is for Windows");
        expect(compareVersions(offer.value(ManifestKey::version).toString(), runningVersion) == 1,
               "an offer is more recent than the running version");
        // Where the package would come from is the remote location target's; where it goes is this one's.
        const QString name = offer.value(ManifestKey::package).toString();
        expect(name.isEmpty() || !isPackageNameAllowed(name) || QDir::cleanPath(available + name).startsWith(available),
               "the package is stored inside the available folder", name);
    }
    return 0;
}
