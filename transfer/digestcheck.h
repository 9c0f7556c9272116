#ifndef DIGESTCHECK_H
#define DIGESTCHECK_H

#include "transfer/expectedfile.h"

#include <QString>

class StagingFile;

// Logs the verification of a downloaded file's MD5 digest (hex, lower case) against
// the expected one and returns whether they match. Hex digits compare regardless of
// case: Windows tools print digests in upper case.
bool verifyDigest(const QString &computedMd5, const QString &expectedMd5);

// Verifies the staged file's MD5 and then its SHA-256 digest, each where one is
// expected; both must match.
bool verifyDigests(StagingFile &staged, const ExpectedFile &expected);

#endif
