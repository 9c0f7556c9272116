#ifndef UPDATERAPP_H
#define UPDATERAPP_H

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "transfer/expectedfile.h"

#include <memory>

class QLocalServer;
class QLockFile;

// The process's application object: one update run, its lock and control channel,
// and the nested loop in which network transfers wait.
class UpdaterApp : public QCoreApplication
{
    Q_OBJECT

public:
    UpdaterApp(int &argc, char **argv);
    ~UpdaterApp() override;

    int run();

    void setLocalPath(const QString &path);
    QString logPath() const;

    void setRemotePath(const QString &text);
    // The remote paths a run asks in turn, the first being the current one.
    void setRemotePaths(const QStringList &texts);
    QUrl resolveRemoteUrl(const QString &name) const;

    bool download(const QUrl &url, const QString &destination, const ExpectedFile &expected);

    bool sendMessage(const QString &text);

    void clearAvailableUpdates();

    // The minisign public keys ("RW...") that updates.json must be signed with; with
    // none, an unsigned manifest is taken as before.
    void setTrustedKeys(const QStringList &keys) { trustedKeys = keys; }

private slots:
    void checkForUpdates();
    void onNewConnection();
    void onReadyRead();

private:
    void acquireInstanceGuard();
    void releaseInstanceGuard();
    bool lockUpdatesFolder();

    void updateFromRemotePaths();
    bool isServerWaitPending();
    bool fetchUpdateManifest(QByteArray &manifest);
    bool isManifestTaken(const QByteArray &manifest);
    bool verifyManifestSignature(const QByteArray &manifest);
    bool isOfferedToThisInstall(const QJsonObject &offer);
    bool downloadPackage(const QJsonObject &manifest);
    bool downloadItem(const QJsonObject &manifest, const QString &key, bool verify);

    bool copyLocalFile(const QString &source, const QString &destination,
                       const ExpectedFile &expected);
    bool fetchOverNetwork(const QUrl &url, const QString &destination,
                          const ExpectedFile &expected);
    QString stagingFolder() const;

    const char *serverName;
    bool ownsInstanceLock;
    QString localPath;
    QString remotePath;
    QStringList remotePaths;
    QLockFile *instanceLock;
    QString logFilePath;
    QNetworkAccessManager networkManager;
    QLocalServer *localServer;
    QEventLoop transferLoop;
    QStringList trustedKeys;
    // Until when the server of the last transfer asked not to be asked again, if it did.
    QDateTime serverWaitUntil;
    bool shutdownRequested = false;
    // Held from before the first look at the available folder until the run ends.
    std::unique_ptr<QLockFile> updatesFolderLock;
};

#endif
