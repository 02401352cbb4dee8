#ifndef ADAPTERNOTE_H
#define ADAPTERNOTE_H

#include "adapter/networkadapters.h"

#include <QList>
#include <QString>
#include <QStringList>

// How the wired adapter was set before ModifyIP gave it 192.168.0.92: noted
// in a small file of the user's before anything changes, so that a crash, a
// kill or a power cut does not lose it, and given back when the window closes
// or by TcpServer --restore-address.
struct AdapterNote
{
    struct Address
    {
        QString address;
        int prefixLength = 0;
    };

    QString adapter;
    bool dhcp = false; // it obtained its address automatically (Windows)
    QList<Address> addresses;
    QStringList gateways;

    // Where the note is kept: the user's application data folder.
    static QString defaultPath();

    enum Reading { Read, Missing, Unreadable, Truncated };
    // Reads the note at path; *problem says what is wrong with one that is
    // there but cannot be used.
    static Reading read(const QString &path, AdapterNote *note, QString *problem);
    // Writes it whole and flushed to the disk, or not at all.
    bool write(const QString &path, QString *failure) const;

    // The earlier settings in a few words, as the operator is asked about them.
    QString describe() const;
    bool operator==(const AdapterNote &other) const;
};

// Dotted-decimal mask of a prefix length (24 gives "255.255.255.0").
QString maskOfPrefix(int prefixLength);

// Windows' netsh commands that give the adapter its noted settings back:
// DHCP again, or its first address (with the gateway) in place of
// 192.168.0.92 and each further one added.
QList<CommandLine> netshRestoreCommands(const AdapterNote &note);

// What came of giving an adapter back its noted settings.
struct RestoreOutcome
{
    enum Kind {
        Due, // the adapter holds 192.168.0.92 still: its settings are to be given back
        Restored, // the adapter has its earlier settings; the note is gone
        NothingToDo, // no note, or nothing left to give back
        LeftAlone, // the adapter no longer holds 192.168.0.92: changed since, by someone else; the note is gone
        Failed, // it still holds 192.168.0.92; the note stays
        Unusable, // the note cannot be read or names no adapter here; it stays
    };
    Kind kind = NothingToDo;
    QString text; // one line for the operator
};

// Whether there is something to give back (Due, and *note is the note), or
// why not.
RestoreOutcome restoreNeeded(NetworkAdapters *adapters, const QString &notePath, AdapterNote *note);
// Gives the adapter its noted settings back, looks at the adapters afresh and
// says what came of it.
RestoreOutcome restoreAdapter(NetworkAdapters *adapters, const QString &notePath, const AdapterNote &note,
                              int timeoutMs);

#endif // ADAPTERNOTE_H
