#include "fuzz/fuzzsupport.h"

#include <QtNetwork>

// Input: the bytes a client sends on one connection to the updater's control channel,
// through a real socket to the application's own server.
namespace {
QStringList logged;
QString availableFolder;
QString waitingPackage; // "shutdown" must remove it, nothing else may
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QTemporaryDir local;
    expect(local.isValid(), "a temporary folder can be made");
    fuzzedApp().setLocalPath(local.path());
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) { logged.append(message); });
    availableFolder = local.path() + QLatin1String("/available/");
    waitingPackage = availableFolder + QLatin1String("package.zip");
    return QDir().mkpath(availableFolder) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QFile package(waitingPackage);
    expect(package.exists() || package.open(QIODevice::WriteOnly), "a package can be put in the available folder");
    logged.clear();
    {
        QLocalSocket client;
        client.connectToServer(QStringLiteral("ZorvanApplicationUpdater"), QIODevice::WriteOnly);
        expect(client.waitForConnected(5000), "the control channel accepts a connection");
        client.write(bytes);
        client.flush();
        while (logged.size() < (bytes.isEmpty() ? 1 : 2))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // After its one message the connection is closed, so that nothing can follow.
        while (!bytes.isEmpty() && client.state() != QLocalSocket::UnconnectedState)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents();

    const QString message = QString::fromUtf8(bytes);
    expect(logged.value(0) == QLatin1String("Received LOCAL SOCKET connection"), "a connection is logged", message);
    // The log line carries the text as UTF-8 can hold it.
    expect(bytes.isEmpty() || logged == QStringList{logged.value(0), "Received LOCAL SOCKET message: " + QString::fromUtf8(message.toUtf8())},
           "one message is read per connection, and logged as received", message);
    expect(QFile::exists(waitingPackage) != (message == QLatin1String("shutdown")),
           "exactly the text \"shutdown\" empties the available folder", message);
    expect(QDir(availableFolder).exists(), "the available folder is still there", message);

    // The server keeps a silent connection until it closes: a handful a run, but millions here.
    qDeleteAll(fuzzedApp().findChildren<QLocalSocket *>());
    return 0;
}
