#ifndef LOOPBACKHTTPSERVER_H
#define LOOPBACKHTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QUrl>

// How the server answers a request: the head (status line and headers) is sent at
// once, then the body, or its first bytesToSend bytes, whole or in drips, and then
// the connection ends as ending says.
struct HttpAnswer
{
    enum Ending { Close, Reset, Stall };

    QByteArray head;
    QByteArray body;
    qint64 bytesToSend = -1;
    Ending ending = Close;
    int dripBytes = 0;
    int dripIntervalMs = 0;

    static HttpAnswer ok(const QByteArray &body, bool announceLength = true);
    static HttpAnswer status(int code, const QByteArray &reason, const QByteArray &body,
                             const QByteArray &extraHeaders = QByteArray());
};

// An HTTP (or, with a certificate, HTTPS) server on 127.0.0.1 that answers every
// request as it was told, also in ways no real server would.
class LoopbackHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

    void setAnswer(const HttpAnswer &answer) { current = answer; }
    // Answers requests for this path (such as /pc/app.zip) differently from the rest.
    void setAnswer(const QByteArray &path, const HttpAnswer &answer) { byPath.insert(path, answer); }
    void useTls(const QSslCertificate &serverCertificate, const QSslKey &serverKey)
    {
        certificate = serverCertificate;
        key = serverKey;
    }
    bool start() { return listen(QHostAddress::LocalHost); }
    QUrl url(const QString &path) const;
    // The head of the last request received.
    QByteArray lastRequest() const { return request; }

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void answer(QTcpSocket *socket, const HttpAnswer &answer);

    HttpAnswer current;
    QHash<QByteArray, HttpAnswer> byPath;
    QSslCertificate certificate;
    QSslKey key;
    QByteArray request;
};

#endif
