#include "support/slowremote.h"

#include "support/sandbox.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

SlowRemote::SlowRemote(int packageSize, int dripBytes, int dripIntervalMs) : body(testPackage(packageSize))
{
    const QJsonObject manifest{{"md5", QString::fromLatin1(md5Hex(body))}, {"os", "windows"},
                               {"version", "2.1"}, {"package", "app.zip"}};
    server.setAnswer("/pc/updates.json", HttpAnswer::ok(QJsonDocument(manifest).toJson()));
    HttpAnswer slow = HttpAnswer::ok(body);
    slow.dripBytes = dripBytes;
    slow.dripIntervalMs = dripIntervalMs;
    server.setAnswer("/pc/app.zip", slow);
}

QString SlowRemote::url() const
{
    return server.url(QString()).toString();
}

void SlowRemote::speedUp()
{
    server.setAnswer("/pc/app.zip", HttpAnswer::ok(body));
}

bool SlowRemote::waitUntilDownloading(const Sandbox &sandbox, int timeoutMs)
{
    return QTest::qWaitFor([&sandbox] {
        return sandbox.logBytes().contains("] Downloaded ");
    }, timeoutMs);
}
