#include "support/sandbox.h"

#include <QtCore>

// By default in the folder that ctest gives the test as TMPDIR, which Windows does not read.
Sandbox::Sandbox(const QString &parent)
    : root(QDir(parent.isEmpty() ? qEnvironmentVariable("TMPDIR", QDir::tempPath()) : parent).filePath(QStringLiteral("sandbox-XXXXXX")))
#ifdef Q_OS_UNIX
    , temporary(QStringLiteral("/tmp/updater-test-XXXXXX"))
#endif
{
    QDir().mkpath(localFolder());
    QDir().mkpath(remoteFolder() + QLatin1String("/pc"));
}

QString Sandbox::remoteUrl(const QString &server, const QString &host) const
{
    if (server == QLatin1String("file"))
        return QUrl::fromLocalFile(remoteFolder()).toString();
    QString served = testServer(QStringLiteral("folder"));
#ifdef Q_OS_WIN
    served.prepend(QLatin1String("Z:")); // the Linux root
#endif
    const QString remote = QFileInfo(remoteFolder()).absoluteFilePath();
    if (served.isEmpty() || !remote.startsWith(served + QLatin1Char('/'), Qt::CaseInsensitive))
        return QString();
    return QStringLiteral("%1://%2:%3").arg(server == QLatin1String("https") ? server : QStringLiteral("http"), host,
                                            testServer(server)) + remote.mid(served.size());
}

void Sandbox::putRemote(const QString &name, const QByteArray &bytes) const
{
    writeFile(remoteFolder() + QLatin1String("/pc/") + name, bytes);
}

void Sandbox::publish(const QString &package, const QByteArray &bytes) const
{
    putRemote(package, bytes);
    const QJsonObject manifest{{QStringLiteral("md5"), QString::fromLatin1(md5Hex(bytes))}, {QStringLiteral("os"), QStringLiteral("windows")},
                               {QStringLiteral("version"), QStringLiteral("2.1")}, {QStringLiteral("package"), package}};
    putRemote(QStringLiteral("updates.json"), QJsonDocument(manifest).toJson());
}

QStringList Sandbox::arguments(const QString &remote) const
{
    return {QStringLiteral("--localPath"), localFolder(), QStringLiteral("--remotePath"), remote.isEmpty() ? remoteUrl() : remote};
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
    process.setProcessChannelMode(QProcess::MergedChannels);
    start(process, arguments, program);
    Result result;
    if (!process.waitForFinished(60000))
        process.kill();
    else if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    // Windows ends the lines with "\r\n".
    result.output = process.readAll().replace("\r\n", "\n");
    return result;
}

QStringList Sandbox::logLines() const
{
    const auto isProgress = [](const QString &line) { return line.contains(QLatin1String(" Downloaded ")); };
    QStringList lines;
    const QStringList all = QString::fromLatin1(logBytes()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).startsWith(QLatin1String("=====")))
            i += 2;
        if (i < all.size() && !(isProgress(all.at(i)) && i + 1 < all.size() && isProgress(all.at(i + 1))))
            lines << all.at(i);
    }
    return lines;
}

QByteArray md5Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
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

QByteArray testServerFile(const QString &name)
{
    return readFile(qEnvironmentVariable("UPDATER_TEST_SERVERS") + QLatin1Char('/') + name);
}

QString testServer(const QString &name)
{
    for (const QString &line : QString::fromUtf8(testServerFile(QStringLiteral("servers"))).split(QLatin1Char('\n'))) {
        if (line.section(QLatin1Char(' '), 0, 0) == name)
            return line.section(QLatin1Char(' '), 1);
    }
    return QString();
}
