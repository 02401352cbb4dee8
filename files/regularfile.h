#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QString>

class QFile;

// Opens the file at path for reading only if it is a regular file, and never
// through a symbolic link in its last component: the image folder may be
// writable by a whole group, and a link there must not make the program serve
// a file its user can read but the others must not. Folders above it may be
// links (the package's image folder is one). A pipe or device is refused
// without blocking. On failure, says why in a few words.
bool openRegularFile(const QString &path, QFile *file, QString *failure);

// Keeps a file just opened (a Unix descriptor, or a Windows handle opened with
// FILE_FLAG_OPEN_REPARSE_POINT) only if it is a regular file and no link;
// otherwise closes it and says why. The flash record is opened the same way.
bool keepRegularFile(qintptr handle, QString *failure);

// Whether the file just opened belongs to the user the program runs as
// (Windows: the user's own folders hold only the user's files, so always).
bool ownedByThisUser(const QFile &file);

#endif // REGULARFILE_H
