#ifndef SANDBOX_H
#define SANDBOX_H

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

QByteArray readFile(const QString &path);

// One updater installation for a test: a local folder, a remote folder served through
// a file URL, and a temporary folder of its own for the lock file and control channel.
class Sandbox
{
public:
    struct Result
    {
        int exitCode = -1; // also for a process that crashed or had to be killed
        QProcess::ExitStatus exitStatus = QProcess::CrashExit;
        QByteArray standardError;
        QByteArray standardOutput;
    };

    Sandbox();

    bool isValid() const { return root.isValid() && temporary.isValid(); }
    QString path(const QString &relative = QString()) const
    {
        return relative.isEmpty() ? root.path() : root.filePath(relative);
    }
    QString localFolder() const { return path(QStringLiteral("local")); }
    QString updatesFolder() const { return path(QStringLiteral("local/updates")); }
    QString availableFolder() const { return path(QStringLiteral("local/updates/available")); }
    QString remoteFolder() const { return path(QStringLiteral("remote")); }
    QString remoteUrl() const;
    QString temporaryFolder() const { return temporary.path(); }

    // Writes a file below the remote folder's "pc" folder.
    void putRemote(const QString &name, const QByteArray &bytes) const;
    // Writes a package and a manifest that offers it as version, with its digest.
    QByteArray publish(const QString &package, const QByteArray &bytes,
                       const QString &version = QStringLiteral("2.1")) const;

    QStringList arguments(const QString &remote = QString()) const;
    // Starts program, the updater unless told otherwise, without waiting for it.
    void start(QProcess &process, const QStringList &arguments,
               const QString &program = QStringLiteral(UPDATER_EXECUTABLE)) const;
    Result run(const QStringList &arguments,
               const QString &program = QStringLiteral(UPDATER_EXECUTABLE)) const;

    QByteArray logBytes() const { return readFile(updatesFolder() + QLatin1String("/updater.log")); }
    // The log's lines after the banner's date line, which differs from run to run.
    QStringList logLines() const;
    QStringList availableFiles() const;
    QStringList cacheFiles() const;

private:
    QTemporaryDir root;
    // Apart from root and short: the control channel is a socket file in it, and
    // socket paths are limited to about a hundred bytes, which a build folder can exceed.
    QTemporaryDir temporary;
};

QByteArray md5Hex(const QByteArray &bytes);
// Some bytes that are not all alike, as a package's are.
QByteArray testPackage(int size);
// Creates the folders on the way.
void writeFile(const QString &path, const QByteArray &bytes);
// The files below folder, with their paths relative to it, in order.
QStringList filesBelow(const QString &folder);

// What a run logs after the banner's date line up to its first look at the available folder.
QStringList startLines(const Sandbox &sandbox, const QString &remote);

// Progress depends on how the bytes happen to arrive; only the last report of a run of
// them, that all bytes are there, is the same from run to run.
QStringList withFinalProgressOnly(const QStringList &lines);

#endif
