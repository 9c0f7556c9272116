#include "platform/ownfile.h"

// Also what defines Q_OS_WIN: without a Qt header first, the Windows branch would vanish.
#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
bool openOwnFile(QFile &file, QIODevice::OpenMode mode)
{
    const bool writes = mode & (QIODevice::WriteOnly | QIODevice::Append);
    const bool reads = mode & QIODevice::ReadOnly;
    const std::wstring path = QDir::toNativeSeparators(file.fileName()).toStdWString();
    // A reparse point is opened as itself, and then refused, instead of what it names.
    const HANDLE handle = CreateFileW(path.c_str(), (reads ? GENERIC_READ : 0) | (writes ? GENERIC_WRITE : 0),
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, writes ? OPEN_ALWAYS : OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)
            && !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            && info.nNumberOfLinks == 1;
    if (!regular || ((mode & QIODevice::Truncate) && !SetEndOfFile(handle))) {
        CloseHandle(handle);
        return false;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                           _O_BINARY | (reads && writes ? _O_RDWR : writes ? _O_WRONLY : _O_RDONLY));
    if (descriptor < 0) {
        CloseHandle(handle);
        return false;
    }
    if (file.open(descriptor, mode, QFileDevice::AutoCloseHandle))
        return true;
    _close(descriptor);
    return false;
}

qint64 ownFileSize(const QString &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(QDir::toNativeSeparators(path).toStdWString().c_str(), GetFileExInfoStandard, &data)
            || (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return -1;
    return (qint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
#else
namespace {
bool isOwnRegularFile(const struct stat &status)
{
    return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && status.st_nlink == 1;
}
}

bool openOwnFile(QFile &file, QIODevice::OpenMode mode)
{
    const bool writes = mode & (QIODevice::WriteOnly | QIODevice::Append);
    const bool reads = mode & QIODevice::ReadOnly;
    // Non-blocking, so that opening a FIFO returns at once; it is refused right after.
    int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    flags |= reads && writes ? O_RDWR | O_CREAT : writes ? O_WRONLY | O_CREAT : O_RDONLY;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    int descriptor;
    do {
        descriptor = ::open(QFile::encodeName(file.fileName()).constData(), flags, 0644);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return false;
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || !isOwnRegularFile(status)
            || ((mode & QIODevice::Truncate) && ::ftruncate(descriptor, 0) != 0)
            || ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(descriptor);
        return false;
    }
    if (file.open(descriptor, mode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(descriptor);
    return false;
}

qint64 ownFileSize(const QString &path)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !isOwnRegularFile(status))
        return -1;
    return status.st_size;
}
#endif
