#ifndef SYSTEMNAME_H
#define SYSTEMNAME_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Names as the system has them. On Unix a file's path, a program's argument
// and an adapter's name are bytes, usually UTF-8 but not always: Qt decodes
// bytes that are not UTF-8 into replacement characters, and the name is then
// lost. Here a byte that is no part of valid UTF-8 is kept as a character of
// its own (U+DC80 + the byte, a lone surrogate that no valid UTF-8 can give),
// so that the name goes back to the system as the bytes it came as.

QString nameFromSystem(const QByteArray &bytes);
QByteArray nameToSystem(const QString &name);
// The name as a message shows it: what cannot be printed (those bytes, and
// control characters) as \xHH.
QString printableName(const QString &name);

// The program's arguments as the system gave them, without the program's own
// name (Windows hands them over as UTF-16 already). The platform's halves:
// systemname_unix.cpp, systemname_win.cpp.
QStringList systemArguments(int argc, char **argv);

#endif // SYSTEMNAME_H
