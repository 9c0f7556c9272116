#include "platform/durablefile.h"

// Also what defines Q_OS_WIN: without a Qt header first, the Windows branch would vanish.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QDeadlineTimer>
#include <QThread>

#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#endif

bool flushToDisk(QFileDevice &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
#else
    int result;
    do {
        result = ::fdatasync(file.handle());
    } while (result != 0 && errno == EINTR);
    return result == 0;
#endif
}

void startWriteBack(QFileDevice &file, qint64 offset, qint64 length)
{
#ifdef Q_OS_LINUX
    // Whether the disk starts now only changes when it is done, so a failure is no error.
    ::sync_file_range(file.handle(), offset, length, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(file)
    Q_UNUSED(offset)
    Q_UNUSED(length)
#endif
}

#ifdef Q_OS_WIN
bool renameDurably(const QString &from, const QString &to)
{
    const QString source = QDir::toNativeSeparators(from);
    const QString target = QDir::toNativeSeparators(to);
    // Without MOVEFILE_COPY_ALLOWED a move to another volume fails instead of copying;
    // MOVEFILE_WRITE_THROUGH returns only once the move is on the disk.
    const QDeadlineTimer deadline(2000);
    for (;;) {
        if (MoveFileExW(reinterpret_cast<LPCWSTR>(source.utf16()), reinterpret_cast<LPCWSTR>(target.utf16()),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}
#else
bool renameDurably(const QString &from, const QString &to)
{
    // rename(2) fails with EXDEV across volumes rather than copying.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return false;
    const int folder = ::open(QFile::encodeName(QFileInfo(to).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return false;
    int result;
    do {
        result = ::fsync(folder);
    } while (result != 0 && errno == EINTR);
    ::close(folder);
    return result == 0;
}
#endif
