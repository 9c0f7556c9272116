#include "fuzz/fuzzsupport.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// Input: the bytes a client sends on one connection to the updater's control
// channel. A real client socket talks to the application's own server, so the
// server's slots run as they do in the updater.
namespace {

QStringList logged;

void keepMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    logged.append(message);
}

QString availableFolder;
// Stands for a downloaded package: "shutdown" must remove it, nothing else may.
QString waitingPackage;

void processEventsUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QTemporaryDir local;
    expect(local.isValid(), "a temporary folder can be made");
    UpdaterApp &app = fuzzedApp();
    app.setLocalPath(local.path());
    // After setLocalPath, which installs the log file's handler.
    qInstallMessageHandler(keepMessage);
    availableFolder = local.path() + QLatin1String("/available/");
    waitingPackage = availableFolder + QLatin1String("package.zip");
    QDir().mkpath(availableFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    if (!QFile::exists(waitingPackage)) {
        QFile package(waitingPackage);
        expect(package.open(QIODevice::WriteOnly), "a package can be put in the available folder");
    }
    logged.clear();
    {
        QLocalSocket client;
        client.connectToServer(QStringLiteral("ZorvanApplicationUpdater"), QIODevice::WriteOnly);
        expect(client.waitForConnected(5000), "the control channel accepts a connection");
        client.write(bytes);
        client.flush();
        const int lines = bytes.isEmpty() ? 1 : 2;
        processEventsUntil([lines] { return logged.size() >= lines; });
        // After its one message the connection is closed, so that nothing can follow.
        if (!bytes.isEmpty())
            processEventsUntil([&client] { return client.state() == QLocalSocket::UnconnectedState; });
    }
    QCoreApplication::processEvents();

    const QString message = QString::fromUtf8(bytes);
    expect(logged.value(0) == QLatin1String("Received LOCAL SOCKET connection"),
           "a connection is logged", message);
    if (!bytes.isEmpty()) {
        expect(logged.size() == 2, "one message is read per connection", message);
        // The log line carries the text as UTF-8 can hold it.
        expect(logged.at(1) == QLatin1String("Received LOCAL SOCKET message: ")
                       + QString::fromUtf8(message.toUtf8()),
               "the message is logged as received", message);
    }
    const bool shutdown = message == QLatin1String("shutdown");
    expect(QFile::exists(waitingPackage) != shutdown,
           "exactly the text \"shutdown\" empties the available folder", message);
    expect(QDir(availableFolder).exists(), "the available folder is still there", message);

    // The server keeps a connection that sent nothing until it closes; the updater
    // serves a handful per run, the fuzzer millions.
    qDeleteAll(fuzzedApp().findChildren<QLocalSocket *>());
    return 0;
}
