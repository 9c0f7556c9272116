#include <QDir>
#include <QtGlobal>

// ctest gives every test process a temporary folder of its own as TMPDIR; Windows takes
// it from TMP and TEMP, which wine sets to one folder that all its processes share. Set
// before main, so that the test's own objects find it too.
namespace {
const bool temporaryFolderSet = [] {
    const QString folder = qEnvironmentVariable("TMPDIR");
    if (folder.isEmpty())
        return false;
    const QByteArray native = QDir::toNativeSeparators(QDir(folder).absolutePath()).toLocal8Bit();
    return qputenv("TMP", native) && qputenv("TEMP", native);
}();
}
