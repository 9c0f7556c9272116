#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Collects the lines that the updater's rules log while the object lives, instead of
// letting them reach the console: the tool reports in its own words, and the reason a
// rule gives for refusing is the last line it logged. One capture at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QString lastLine() const { return captured.isEmpty() ? QString() : captured.last(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QStringList captured;
    QtMessageHandler previousHandler;
};

#endif
