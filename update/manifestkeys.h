#ifndef MANIFESTKEYS_H
#define MANIFESTKEYS_H

#include <QLatin1String>

// The keys of updates.json, shared by the updater and the publishing tool.
namespace ManifestKey {
inline const QLatin1String md5("md5");
inline const QLatin1String sha256("sha256");
inline const QLatin1String size("size");
inline const QLatin1String os("os");
inline const QLatin1String compatibleOsVersion("compatible_os_version");
inline const QLatin1String version("version");
inline const QLatin1String package("package");
inline const QLatin1String rollout("rollout");
}

// The only "os" value this updater accepts.
inline const QLatin1String manifestTargetOs("windows");

// The manifest's name, and the folder below the remote base that holds it.
inline const QLatin1String manifestFileName("updates.json");
inline const QLatin1String remoteFolder("/pc/");

// The minisign signature of the manifest, beside it.
inline const QLatin1String signatureFileName("updates.json.minisig");

// The most bytes the manifest, or any small file fetched beside it, may have; no
// honest one comes near it.
constexpr qint64 manifestSizeLimit = 1 << 20;

#endif
