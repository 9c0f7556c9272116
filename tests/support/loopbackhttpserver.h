#ifndef LOOPBACKHTTPSERVER_H
#define LOOPBACKHTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QTcpServer>
#include <QUrl>

// What the server sends for a request: the head (status line and headers) and the body,
// and then it closes the connection, or stalls: leaves it open.
struct HttpAnswer
{
    QByteArray head;
    QByteArray body;
    bool stall = false;

    static HttpAnswer ok(const QByteArray &body)
    {
        return {"HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n", body};
    }
};

// An HTTP server on 127.0.0.1 that answers as it was told, also in ways no real server
// would. Each request is answered as its path says, or else as the path "" says.
class LoopbackHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    void setAnswer(const QByteArray &path, const HttpAnswer &answer) { answers.insert(path, answer); }
    bool start() { return listen(QHostAddress::LocalHost); }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
    }
    // The head of the last request received.
    QByteArray lastRequest() const { return request; }

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QHash<QByteArray, HttpAnswer> answers;
    QByteArray request;
};

#endif
