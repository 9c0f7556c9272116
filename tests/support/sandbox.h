#ifndef SANDBOX_H
#define SANDBOX_H

#include <QtCore>

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes); // and the folders on the way
QByteArray md5Hex(const QByteArray &bytes);
QString sha256Hex(const QByteArray &bytes);
// The files below folder, with their paths relative to it, in order.
QStringList filesBelow(const QString &folder);
// Of the servers that support/servers.sh started for the tests: the port of one ("http", "https",
// "slow", "proxy", "credentials-proxy") or the "folder" served; a file they write ("proxy.log").
QString testServer(const QString &name);
QByteArray testServerFile(const QString &name);

// One updater installation for a test: a local folder, a remote folder, and a temporary
// folder of its own for the lock file and control channel.
class Sandbox
{
public:
    struct Result
    {
        int exitCode = -1; // also for a process that crashed or had to be killed
        QByteArray output; // standard error and standard output
    };

    // In parent, or else in the test's own temporary folder.
    explicit Sandbox(const QString &parent = QString());

    QString path(const QString &relative) const { return root.filePath(relative); }
    QString localFolder() const { return path(QStringLiteral("local")); }
    QString updatesFolder() const { return path(QStringLiteral("local/updates")); }
    QString availableFolder() const { return path(QStringLiteral("local/updates/available")); }
    QString remoteFolder() const { return path(QStringLiteral("remote")); }
    QString temporaryFolder() const { return temporary.path(); }
    // The remote folder's URL: "file", or as one of the tests' nginx servers serves it,
    // where another name of the loopback address may stand for the host.
    QString remoteUrl(const QString &server = QStringLiteral("file"), const QString &host = QStringLiteral("127.0.0.1")) const;

    void putRemote(const QString &name, const QByteArray &bytes) const; // below the remote folder's "pc"
    void publish(const QString &package, const QByteArray &bytes) const; // and a manifest offering it as 2.1

    QStringList arguments(const QString &remote = QString()) const;
    // Starts program, the updater unless told otherwise, and returns; run waits for it.
    void start(QProcess &process, const QStringList &arguments, const QString &program = QStringLiteral(UPDATER_EXECUTABLE)) const;
    Result run(const QStringList &arguments, const QString &program = QStringLiteral(UPDATER_EXECUTABLE)) const;

    QByteArray logBytes() const { return readFile(updatesFolder() + QLatin1String("/updater.log")); }
    // The log's lines without what differs from run to run: each run's banner and date,
    // and the progress lines before the last of a series, which depend on how bytes arrive.
    QStringList logLines() const;

private:
    QTemporaryDir root;
    // Apart from root and short: the control channel is a socket file in it, and socket
    // paths are limited to about a hundred bytes, which a build folder can exceed.
    QTemporaryDir temporary;
};

#endif
