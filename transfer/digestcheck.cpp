#include "transfer/digestcheck.h"

#include "log/logmessage.h"
#include "transfer/stagingfile.h"

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

bool verifyDigests(StagingFile &staged, const ExpectedFile &expected)
{
    if (!expected.md5.isEmpty() && !verifyDigest(staged.md5(), expected.md5))
        return false;
    if (expected.sha256.isEmpty())
        return true;
    const QString computed = staged.sha256();
    if (expected.sha256.compare(computed, Qt::CaseInsensitive) == 0) {
        updaterLog().info("    SUCCESS: SHA-256 hash of downloaded file is %s, as expected.",
                          qUtf8Printable(computed));
        return true;
    }
    updaterLog().info("    FAILURE: SHA-256 hash of downloaded file was %s, which is distinct from the expected %s.",
                      qUtf8Printable(computed), qUtf8Printable(expected.sha256));
    return false;
}
