#include "transfer/sizecheck.h"

#include "log/logmessage.h"

bool withinExpectedSize(qint64 received, qint64 expectedSize)
{
    if (expectedSize < 0 || received <= expectedSize)
        return true;
    updaterLog().info("    ERROR: Received more than the %lld bytes that updates.json announces.", expectedSize);
    return false;
}

bool receivedAll(qint64 received, qint64 announced)
{
    if (announced < 0 || received >= announced)
        return true;
    updaterLog().info("    ERROR: Received %lld of %lld bytes.", received, announced);
    return false;
}
