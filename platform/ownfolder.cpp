#include "platform/ownfolder.h"

// Also what defines Q_OS_WIN: without a Qt header first, the Windows branch would vanish.
#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <aclapi.h>
#include <windows.h>

#include <array>
#include <string>
#else
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const QLatin1String logName("updater.log");
// The folders the updater keeps, and whether accounts other than its own may read them:
// installers read the package, the cache is nobody else's business.
const struct {
    const char *name;
    bool shared;
} keptFolders[] = {{"available", true}, {"cache", false}};
}

#ifdef Q_OS_WIN
namespace {
using Sid = std::array<BYTE, SECURITY_MAX_SID_SIZE>;

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// Whether path itself is a symbolic link, a junction or another reparse point.
bool isLink(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool wellKnownSid(WELL_KNOWN_SID_TYPE type, Sid &sid)
{
    DWORD size = DWORD(sid.size());
    return CreateWellKnownSid(type, nullptr, sid.data(), &size);
}

// The account the updater runs as.
bool processAccount(Sid &sid)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD size = 0;
    const bool found = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size)
            && CopySid(DWORD(sid.size()), sid.data(), buffer.user.User.Sid);
    CloseHandle(token);
    return found;
}

// Whether the entry at path belongs to this account, to SYSTEM or to the Administrators,
// who own what an elevated administrator creates.
bool hasTrustedOwner(const QString &path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(nativePath(path).c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    Sid account, system, administrators;
    const bool trusted = (processAccount(account) && EqualSid(owner, account.data()))
            || (wellKnownSid(WinLocalSystemSid, system) && EqualSid(owner, system.data()))
            || (wellKnownSid(WinBuiltinAdministratorsSid, administrators) && EqualSid(owner, administrators.data()));
    LocalFree(descriptor);
    return trusted;
}

bool removeEntries(const QString &folder, bool foreignOnly);

// A reparse point goes as itself, never what it names.
bool removeEntry(const QString &path, DWORD attributes)
{
    const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    if (folder && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !removeEntries(path, false))
        return false;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(nativePath(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return folder ? RemoveDirectoryW(nativePath(path).c_str()) : DeleteFileW(nativePath(path).c_str());
}

bool removeEntries(const QString &folder, bool foreignOnly)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(nativePath(folder + QLatin1String("/*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool removed = true;
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        const QString path = folder + QLatin1Char('/') + name;
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (!foreignOnly || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !hasTrustedOwner(path))
            removed = removeEntry(path, found.dwFileAttributes) && removed;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return removed;
}

// Full control for this account, SYSTEM and the Administrators, and on a shared folder read
// access for Users, passed on to whatever is created inside; nothing inherited from above.
// The folder is taken over as well when another account owns it.
bool restrictAccess(HANDLE folder, bool shared, bool takeOver)
{
    Sid account, system, administrators, users;
    if (!processAccount(account) || !wellKnownSid(WinLocalSystemSid, system)
            || !wellKnownSid(WinBuiltinAdministratorsSid, administrators) || !wellKnownSid(WinBuiltinUsersSid, users))
        return false;
    EXPLICIT_ACCESS_W entries[4] = {};
    const auto grant = [&entries](int index, Sid &sid, DWORD rights) {
        entries[index].grfAccessPermissions = rights;
        entries[index].grfAccessMode = SET_ACCESS;
        entries[index].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entries[index].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[index].Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid.data());
    };
    grant(0, account, FILE_ALL_ACCESS);
    grant(1, system, FILE_ALL_ACCESS);
    grant(2, administrators, FILE_ALL_ACCESS);
    grant(3, users, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE);
    PACL access = nullptr;
    if (SetEntriesInAclW(shared ? 4 : 3, entries, nullptr, &access) != ERROR_SUCCESS)
        return false;
    const SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
            | (takeOver ? OWNER_SECURITY_INFORMATION : 0);
    const bool set = SetSecurityInfo(folder, SE_FILE_OBJECT, parts, account.data(), nullptr, access, nullptr)
            == ERROR_SUCCESS;
    LocalFree(access);
    return set;
}

// Creates the folder if missing and makes it this account's; the folder itself, never what
// a reparse point in its place names.
FolderFault::Kind secureFolder(const QString &path, bool shared)
{
    CreateDirectoryW(nativePath(path).c_str(), nullptr);
    const HANDLE folder = CreateFileW(nativePath(path).c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return isLink(path) ? FolderFault::Link : FolderFault::OpenToOthers;
    BY_HANDLE_FILE_INFORMATION info;
    FolderFault::Kind kind = FolderFault::None;
    if (!GetFileInformationByHandle(folder, &info))
        kind = FolderFault::OpenToOthers;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        kind = FolderFault::Link;
    else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
             || !restrictAccess(folder, shared, !hasTrustedOwner(path)))
        kind = FolderFault::OpenToOthers;
    CloseHandle(folder);
    if (kind == FolderFault::None && !removeEntries(path, true))
        kind = FolderFault::OpenToOthers;
    return kind;
}
}

void emptyFolder(const QString &folder)
{
    if (!isLink(folder))
        removeEntries(folder, false);
}

FolderFault secureUpdatesFolder(const QString &folder)
{
    FolderFault::Kind kind = secureFolder(folder, true);
    if (kind != FolderFault::None)
        return {kind, folder};
    const QString log = folder + QLatin1Char('/') + logName;
    if (isLink(log))
        return {FolderFault::Link, log};
    for (const auto &kept : keptFolders) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(kept.name);
        kind = secureFolder(path, kept.shared);
        if (kind != FolderFault::None)
            return {kind, path};
    }
    return {};
}
#else
namespace {
bool removeEntriesAt(int folder, bool foreignOnly);

// Removes name from the folder at, a folder with all it holds, never following a link.
bool removeEntryAt(int at, const char *name)
{
    struct stat status;
    if (::fstatat(at, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(status.st_mode))
        return ::unlinkat(at, name, 0) == 0 || errno == ENOENT;
    const int folder = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    // Taken over first, so that its owner cannot keep filling it while it goes.
    const bool emptied = ::fchown(folder, ::geteuid(), ::getegid()) == 0 && ::fchmod(folder, S_IRWXU) == 0
            && removeEntriesAt(folder, false);
    ::close(folder);
    return emptied && ::unlinkat(at, name, AT_REMOVEDIR) == 0;
}

bool removeEntriesAt(int folder, bool foreignOnly)
{
    // The listing takes over a descriptor of its own.
    const int listed = ::dup(folder);
    DIR *listing = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!listing) {
        if (listed >= 0)
            ::close(listed);
        return false;
    }
    bool removed = true;
    while (const dirent *entry = ::readdir(listing)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat status;
        if (foreignOnly
                && (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || status.st_uid == ::geteuid()))
            continue;
        removed = removeEntryAt(folder, name) && removed;
    }
    ::closedir(listing);
    return removed;
}

// Opens the folder name in the folder at, creating it if missing, and makes it this account's
// with none of the closed permission bits; -1 with the fault when it cannot be used.
int openOwnFolder(int at, const QByteArray &name, mode_t closed, FolderFault::Kind &fault)
{
    if (::mkdirat(at, name.constData(), 0777 & ~closed) != 0 && errno != EEXIST) {
        fault = FolderFault::OpenToOthers;
        return -1;
    }
    const int folder = ::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (folder < 0) {
        fault = ::fstatat(at, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)
                ? FolderFault::Link : FolderFault::OpenToOthers;
        return -1;
    }
    const bool own = ::fstat(folder, &status) == 0
            && (status.st_uid == ::geteuid() || ::fchown(folder, ::geteuid(), ::getegid()) == 0)
            && ((status.st_mode & closed) == 0 || ::fchmod(folder, status.st_mode & 0777 & ~closed) == 0)
            && removeEntriesAt(folder, true);
    if (!own) {
        ::close(folder);
        fault = FolderFault::OpenToOthers;
        return -1;
    }
    return folder;
}

// Others may read the log, never write it, nor reach another file through it.
FolderFault::Kind secureLog(int folder)
{
    struct stat status;
    if (::fstatat(folder, logName.data(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return FolderFault::None;
    if (S_ISLNK(status.st_mode))
        return FolderFault::Link;
    if (S_ISREG(status.st_mode) && (status.st_mode & (S_IWGRP | S_IWOTH))
            && ::fchmodat(folder, logName.data(), status.st_mode & 0755, 0) != 0)
        return FolderFault::OpenToOthers;
    return FolderFault::None;
}
}

void emptyFolder(const QString &folder)
{
    const int descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return;
    removeEntriesAt(descriptor, false);
    ::close(descriptor);
}

FolderFault secureUpdatesFolder(const QString &folder)
{
    FolderFault::Kind kind = FolderFault::None;
    const int updates = openOwnFolder(AT_FDCWD, QFile::encodeName(folder), S_IWGRP | S_IWOTH, kind);
    if (updates < 0)
        return {kind, folder};
    FolderFault fault;
    kind = secureLog(updates);
    if (kind != FolderFault::None)
        fault = {kind, folder + QLatin1Char('/') + logName};
    for (const auto &kept : keptFolders) {
        if (fault.kind != FolderFault::None)
            break;
        const int keptFolder = openOwnFolder(updates, kept.name, kept.shared ? S_IWGRP | S_IWOTH : S_IRWXG | S_IRWXO, kind);
        if (keptFolder < 0)
            fault = {kind, folder + QLatin1Char('/') + QLatin1String(kept.name)};
        else
            ::close(keptFolder);
    }
    ::close(updates);
    return fault;
}
#endif
