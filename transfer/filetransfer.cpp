#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "transfer/digestcheck.h"
#include "transfer/stagingfile.h"

#include <QFile>

bool UpdaterApp::copyLocalFile(const QString &source, const QString &destination,
                               const ExpectedFile &expected)
{
    // A share can hand over a file that is still being written or got damaged on
    // the way, so the copy is staged and verified like a network download.
    QFile input(source);
    StagingFile staged(stagingFolder());
    bool copied = input.open(QIODevice::ReadOnly) && staged.open();
    QByteArray chunk;
    while (copied && !input.atEnd()) {
        chunk = input.read(1 << 16);
        copied = !chunk.isEmpty() && staged.append(chunk);
    }
    if (copied && !expected.md5.isEmpty() && !verifyDigest(staged.md5(), expected.md5))
        return false;
    if (!copied || !staged.commit(destination)) {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        return false;
    }
    updaterLog().info("    Finished downloading %lld bytes.", staged.size());
    return true;
}
