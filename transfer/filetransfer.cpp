#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "transfer/digestcheck.h"
#include "transfer/sizecheck.h"
#include "transfer/stagingfile.h"

#include <QFile>

bool UpdaterApp::copyLocalFile(const QString &source, const QString &destination,
                               const ExpectedFile &expected)
{
    // A share can hand over a file that is still being written or got damaged on
    // the way, so the copy is staged and verified like a network download.
    QFile input(source);
    StagingFile staged(stagingFolder(), !expected.sha256.isEmpty());
    bool copied = input.open(QIODevice::ReadOnly) && staged.open();
    QByteArray chunk;
    while (copied && !input.atEnd()) {
        chunk = input.read(1 << 16);
        if (!withinExpectedSize(staged.size() + chunk.size(), expected.size))
            return false;
        copied = !chunk.isEmpty() && staged.append(chunk);
    }
    if (copied && (!receivedAll(staged.size(), expected.size) || !verifyDigests(staged, expected)))
        return false;
    if (!copied || !staged.commit(destination)) {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        return false;
    }
    updaterLog().info("    Finished downloading %lld bytes.", staged.size());
    return true;
}
