#include "transfer/progress.h"

#include "log/logmessage.h"

void logProgress(qint64 received, qint64 total)
{
    if (total > 0) {
        const int percent = int(double(received) / double(total) * 100.0);
        // "%%" is the literal percent sign; a lone "%]" is no valid format.
        updaterLog().info("    [%d %%] Downloaded %lld / %lld bytes", percent, received, total);
    } else if (received > 0) {
        updaterLog().info("    Downloaded %lld bytes", received);
    }
}
