#ifndef SLOWREMOTE_H
#define SLOWREMOTE_H

#include "support/loopbackhttpserver.h"

#include <QByteArray>
#include <QString>

class Sandbox;

// A remote on a loopback server of the test's own whose manifest arrives at once and
// whose package trickles in, so that an updater started against it is still
// downloading for as long as a test needs. The test must keep its event loop running.
class SlowRemote
{
public:
    SlowRemote(int packageSize, int dripBytes, int dripIntervalMs);

    bool start() { return server.start(); }
    // The value for --remotePath.
    QString url() const;
    QByteArray package() const { return body; }
    // From now on the package comes at once.
    void speedUp();

    // Waits, serving, until the updater in sandbox has received part of the package.
    static bool waitUntilDownloading(const Sandbox &sandbox, int timeoutMs = 20000);

private:
    LoopbackHttpServer server;
    QByteArray body;
};

#endif
