#include "transfer/digestcheck.h"

#include "log/logmessage.h"

bool verifyDigest(const QString &computedMd5, const QString &expectedMd5)
{
    updaterLog().info("    Verifying downloaded file ...");
    if (expectedMd5.compare(computedMd5, Qt::CaseInsensitive) == 0) {
        updaterLog().info("    SUCCESS: MD5 hash of downloaded file is %s, as expected.",
                          qUtf8Printable(computedMd5));
        return true;
    }
    updaterLog().info("    FAILURE: MD5 hash of downloaded file was %s, which is distinct from the expected %s.",
                      qUtf8Printable(computedMd5), qUtf8Printable(expectedMd5));
    return false;
}
