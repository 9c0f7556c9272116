#include "publish/logcapture.h"

namespace {
LogCapture *activeCapture = nullptr;
}

LogCapture::LogCapture()
{
    Q_ASSERT(!activeCapture);
    activeCapture = this;
    previousHandler = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
    activeCapture = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The updater logs at info level only; anything else is Qt's own and stays visible.
    if (type == QtInfoMsg)
        activeCapture->captured.append(message);
    else
        activeCapture->previousHandler(type, context, message);
}
