#include "transfer/minimumrate.h"

MinimumRate::MinimumRate(qint64 minimumBytes, int windowMs)
    : minimumBytes(minimumBytes),
      windowMs(windowMs)
{
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &MinimumRate::check);
}

void MinimumRate::start()
{
    clock.start();
    counts.assign(1, {0, total});
    deadline.start(windowMs);
}

void MinimumRate::received(qint64 bytes)
{
    total += bytes;
    const qint64 now = clock.elapsed();
    if (counts.back().at == now)
        counts.back().total = total;
    else
        counts.push_back({now, total});
    // A window that begins at or before such a count holds at least minimumBytes
    // already, and only ever more.
    while (counts.front().total <= total - minimumBytes)
        counts.pop_front();
}

void MinimumRate::check()
{
    // The deadline was set for an earlier first count; it may have moved on since.
    const qint64 left = counts.front().at + windowMs - clock.elapsed();
    if (left > 0)
        deadline.start(int(left));
    else
        emit tooSlow();
}
