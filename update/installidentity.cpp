#include "update/installidentity.h"

#include "log/logmessage.h"
#include "platform/smallfile.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cctype>

namespace {
const QLatin1String identityFileName("install-identity");
constexpr int identityBytes = 16;

bool isIdentityText(const QByteArray &text)
{
    return text.size() == 2 * identityBytes
            && std::all_of(text.cbegin(), text.cend(), [](char c) { return isxdigit(static_cast<unsigned char>(c)); });
}
}

bool installIdentity(const QString &updatesFolder, QByteArray &identity)
{
    const QString path = updatesFolder + QLatin1Char('/') + identityFileName;
    const QByteArray kept = readSmallFile(path, 2 * identityBytes);
    if (isIdentityText(kept)) {
        identity = QByteArray::fromHex(kept);
        return true;
    }
    identity.resize(identityBytes);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(identity.data()), identityBytes) != 1
            || !writeSmallFile(path, identity.toHex())) {
        updaterLog().info("Could not keep the install identity in %s.", qUtf8Printable(path));
        return false;
    }
    return true;
}
