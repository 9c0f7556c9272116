#ifndef OWNFOLDER_H
#define OWNFOLDER_H

#include <QString>

// What keeps the updater from working in its updates folder.
struct FolderFault
{
    enum Kind { None, Link, OpenToOthers };
    Kind kind = None;
    QString path; // the entry at fault
};

// Makes the updates folder, and the "available" and "cache" folders in it, this account's
// alone before anything is read or written there: created if missing, taken over and closed
// to writers of other accounts (cache also to readers), and every entry of another account
// directly inside them removed without following it. A link is refused, for the folders and
// for "updater.log", and so is what cannot be made right.
FolderFault secureUpdatesFolder(const QString &folder);

// Removes what lies directly inside folder, subfolders with their contents, without
// following any link; a folder that is itself a link is left alone.
void emptyFolder(const QString &folder);

#endif
