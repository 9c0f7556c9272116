#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// What one run of the tool is asked to do.
struct PublishCommand
{
    QString remoteDir;
    bool verify = false;
    QString publicKey; // only for --verify: a minisign public key, or a .pub file
    bool resign = false; // sign the published manifest again, changing nothing else
    int expiresDays = 30; // how long a signature made now holds
    // Only for publishing:
    QString packagePath;
    QString version;
    QString osRule;
    bool hasOsRule = false;
    bool force = false;
    QString rollout; // the percent of installs that take the version; empty for all
    QString signKeyPath;
};

// Reads the command line. Help and the tool's version are shown here and end the
// process; false, after saying why on standard error, when the command line is unusable.
bool parseCommandLine(const QStringList &arguments, PublishCommand &command);

#endif
