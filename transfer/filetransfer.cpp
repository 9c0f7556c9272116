#include "app/updaterapp.h"

#include "log/logmessage.h"
#include "transfer/digestcheck.h"
#include "transfer/sizecheck.h"
#include "transfer/transferbounds.h"
#include "transfer/stagingfile.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {
// Small enough that the control channel is served between two chunks many times a
// second, large enough that neither the event loop nor the hand-over to the digests'
// threads costs anything next to the copying.
constexpr qint64 chunkSize = 1 << 18;
}

bool UpdaterApp::copyLocalFile(const QString &source, const QString &destination,
                               const ExpectedFile &expected)
{
    // Reading a FIFO or a device could wait forever, or never end, while the run
    // holds its locks.
    const QFileInfo sourceInfo(source);
    if (sourceInfo.exists() && !sourceInfo.isFile()) {
        updaterLog().info("    ERROR: %s is not a regular file.", qUtf8Printable(source));
        return false;
    }
    const QString name = QFileInfo(destination).fileName();
    if (sourceInfo.exists() && (!fitsSizeLimit(expected, name, sourceInfo.size())
                                || !fitsFreeSpace(stagingFolder(), qMax(sourceInfo.size(), expected.size))))
        return false;

    // A share can hand over a file that is still being written or got damaged on
    // the way, so the copy is staged and verified like a network download. It goes
    // on in chunks from within transferLoop, so that a shutdown can end it.
    QFile input(source);
    StagingFile staged(stagingFolder(), !expected.sha256.isEmpty());
    if (!input.open(QIODevice::ReadOnly) || !staged.open()) {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        return false;
    }
    const auto fail = [this] {
        updaterLog().info("    ERROR: Cloud not store downloaded file.");
        transferLoop.exit(1);
    };
    QTimer pump;
    connect(&pump, &QTimer::timeout, this, [&] {
        // A shutdown ends the wait, and nothing may be placed after it.
        if (!transferLoop.isRunning())
            return;
        const QByteArray chunk = input.read(chunkSize);
        if (!chunk.isEmpty()) {
            if (!fitsSizeLimit(expected, name, staged.size() + chunk.size())
                    || !withinExpectedSize(staged.size() + chunk.size(), expected.size))
                transferLoop.exit(1);
            else if (!stageBytes(staged, chunk, name))
                transferLoop.exit(1);
        } else if (!input.atEnd()) {
            fail();
        } else if (!receivedAll(staged.size(), expected.size) || !verifyDigests(staged, expected)) {
            transferLoop.exit(1);
        } else if (!staged.commit(destination)) {
            fail();
        } else {
            updaterLog().info("    Finished downloading %lld bytes.", staged.size());
            transferLoop.exit(0);
        }
    });
    pump.start(0);
    return transferLoop.exec() == 0;
}
