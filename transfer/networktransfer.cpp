#include "app/updaterapp.h"

bool UpdaterApp::fetchOverNetwork(const QUrl &url, const QString &destination,
                                  const QString &expectedMd5)
{
    Q_UNUSED(url)
    Q_UNUSED(destination)
    Q_UNUSED(expectedMd5)
    return false;
}
