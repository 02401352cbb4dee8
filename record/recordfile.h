#ifndef RECORDFILE_H
#define RECORDFILE_H

#include <QByteArray>
#include <QString>

// The flash record's file as its writer appends to it: opened without
// following a symbolic link in its last component and only as a regular file
// (a pipe, a device or a folder could hold the writer up or take rows nowhere),
// never waiting in the open itself. Failures are in the system's own words.
// The platform's halves: recordfile_unix.cpp, recordfile_win.cpp.
class RecordFile
{
public:
    RecordFile() = default;
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;
    ~RecordFile();

    // Opens the file for appending, making it where there is none.
    bool open(const QString &path, QString *failure);
    qint64 size() const;
    // Whether the last byte is a line break; an empty file counts as one.
    bool endsWithLineBreak() const;
    // Appends all the bytes or, cutting back what went in, none.
    bool append(const QByteArray &bytes, QString *failure);

private:
    bool resize(qint64 size);

    qintptr m_handle = -1;
};

#endif // RECORDFILE_H
