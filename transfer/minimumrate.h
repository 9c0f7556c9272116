#ifndef MINIMUMRATE_H
#define MINIMUMRATE_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

// Watches that a transfer receives at least a number of bytes in every window of
// time, however the bytes are spread: a server that sends a byte now and then keeps
// a stall limit from ever running out, and would hold the run, and its locks, for days.
class MinimumRate : public QObject
{
    Q_OBJECT

public:
    MinimumRate(qint64 minimumBytes, int windowMs);

    // The first window begins now; the bytes before it count no more.
    void start();
    void received(qint64 bytes);

signals:
    void tooSlow();

private:
    void check();

    // Bytes so far at a moment, in milliseconds since start().
    struct Count
    {
        qint64 at;
        qint64 total;
    };

    qint64 minimumBytes;
    int windowMs;
    QElapsedTimer clock;
    QTimer deadline;
    // The counts within the last minimumBytes; the first one is where the window that
    // runs out next begins.
    std::deque<Count> counts;
    qint64 total = 0;
};

#endif
