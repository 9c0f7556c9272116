#ifndef LOOPBACKDAEMON_H
#define LOOPBACKDAEMON_H

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

// A port on 127.0.0.1 that nothing listens on right now, or 0.
quint16 freeLoopbackPort();

// A server program of the system as a child process on loopback ports, with its
// configuration and logs in a temporary folder of its own; it stops with the object.
class LoopbackDaemon
{
public:
    virtual ~LoopbackDaemon();

protected:
    // Picks portCount free ports, writes configuration() for them to the file named
    // in the folder, and starts program with arguments. False when the program
    // could not be started or did not accept connections on every port.
    bool launch(int portCount, const QString &file, const QString &program, const QStringList &arguments);
    virtual QString configuration() const = 0;
    // The temporary folder, or a file in it.
    QString path(const QString &name = QString()) const { return prefix.filePath(name); }

    QVector<quint16> ports;

private:
    QTemporaryDir prefix;
    QProcess process;
};

#endif
