#ifndef ADAPTERNOTE_H
#define ADAPTERNOTE_H

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

    enum Reading {
        Read,
        Missing,
        NotAFile, // a link, a pipe, a device, a folder, or another user's: left alone, never waited for
        Unreadable,
        Truncated,
    };
    // Reads the note at path; *problem says what is wrong with one that is
    // there but cannot be used. Only a regular file of the user's is read,
    // opened without blocking and without following a link.
    static Reading read(const QString &path, AdapterNote *note, QString *problem);
    // Writes it whole and flushed to the disk, or not at all.
    bool write(const QString &path, QString *failure) const;

    // The earlier settings in a few words, as the operator is asked about them.
    QString describe() const;
    bool operator==(const AdapterNote &other) const;
};

// Dotted-decimal mask of a prefix length (24 gives "255.255.255.0").
QString maskOfPrefix(int prefixLength);

#endif // ADAPTERNOTE_H
