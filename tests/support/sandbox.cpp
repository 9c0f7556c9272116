#include "support/sandbox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

Sandbox::Sandbox()
#ifdef Q_OS_UNIX
    : temporary(QStringLiteral("/tmp/updater-test-XXXXXX"))
#endif
{
    QDir().mkpath(localFolder());
    QDir().mkpath(remoteFolder() + QLatin1String("/pc"));
}

QString Sandbox::remoteUrl() const
{
    return QUrl::fromLocalFile(remoteFolder()).toString();
}

void Sandbox::putRemote(const QString &name, const QByteArray &bytes) const
{
    writeFile(remoteFolder() + QLatin1String("/pc/") + name, bytes);
}

QByteArray Sandbox::publish(const QString &package, const QByteArray &bytes,
                            const QString &version) const
{
    putRemote(package, bytes);
    const QByteArray digest = md5Hex(bytes);
    const QJsonObject manifest{{QStringLiteral("md5"), QString::fromLatin1(digest)},
                               {QStringLiteral("os"), QStringLiteral("windows")},
                               {QStringLiteral("version"), version},
                               {QStringLiteral("package"), package}};
    putRemote(QStringLiteral("updates.json"), QJsonDocument(manifest).toJson());
    return digest;
}

QStringList Sandbox::arguments(const QString &remote) const
{
    return {QStringLiteral("--localPath"), localFolder(),
            QStringLiteral("--remotePath"), remote.isEmpty() ? remoteUrl() : remote};
}

void Sandbox::start(QProcess &process, const QStringList &arguments, const QString &program) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temporaryFolder());
    // Windows takes its temporary folder from these instead.
    environment.insert(QStringLiteral("TMP"), QDir::toNativeSeparators(temporaryFolder()));
    environment.insert(QStringLiteral("TEMP"), QDir::toNativeSeparators(temporaryFolder()));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(root.path());
    process.start(program, arguments);
    process.waitForStarted();
}

Sandbox::Result Sandbox::run(const QStringList &arguments, const QString &program) const
{
    QProcess process;
    start(process, arguments, program);
    Result result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitStatus = process.exitStatus();
    if (result.exitStatus == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.standardError = process.readAllStandardError();
    result.standardOutput = process.readAllStandardOutput();
    return result;
}

QStringList Sandbox::logLines() const
{
    QStringList lines = QString::fromLatin1(logBytes()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() >= 2 && lines.first().startsWith(QLatin1String("=====")))
        lines.erase(lines.begin(), lines.begin() + 2);
    return lines;
}

QStringList Sandbox::availableFiles() const
{
    return QDir(availableFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QStringList Sandbox::cacheFiles() const
{
    return QDir(updatesFolder() + QLatin1String("/cache")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QByteArray md5Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QByteArray testPackage(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + i % 26);
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(folder.size() + 1);
    files.sort();
    return files;
}

QStringList startLines(const Sandbox &sandbox, const QString &remote)
{
    return {QStringLiteral("Orvella Software Updater Version 2.0.1610051745."),
            QStringLiteral("  Using local path at ") + sandbox.updatesFolder(),
            QStringLiteral("  Using remote path at ") + remote + QLatin1String("/pc/"),
            QStringLiteral("Checking for downloaded updates in ") + sandbox.availableFolder()};
}

QStringList withFinalProgressOnly(const QStringList &lines)
{
    const auto isProgress = [](const QString &line) {
        return line.startsWith(QLatin1String("    [")) || line.startsWith(QLatin1String("    Downloaded "));
    };
    QStringList result;
    for (int i = 0; i < lines.size(); ++i) {
        if (!isProgress(lines[i]) || i + 1 == lines.size() || !isProgress(lines[i + 1]))
            result << lines[i];
    }
    return result;
}
