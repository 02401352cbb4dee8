#include "record/recordfile.h"

#include "files/regularfile.h"
#include "files/systemname.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RecordFile::~RecordFile()
{
    if (m_handle != -1)
        ::close(int(m_handle));
}

bool RecordFile::open(const QString &path, QString *failure)
{
    // Without following a link, and without waiting for a pipe's reader: what
    // is found is looked at before anything is written.
    const int fd = ::open(nameToSystem(path).constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        *failure = errno == ELOOP ? QStringLiteral("it is a symbolic link, which is not followed")
                                  : qt_error_string(errno);
        return false;
    }
    if (!keepRegularFile(fd, failure))
        return false;
    m_handle = fd;
    return true;
}

qint64 RecordFile::size() const
{
    struct stat status;
    return ::fstat(int(m_handle), &status) == 0 ? qint64(status.st_size) : -1;
}

bool RecordFile::endsWithLineBreak() const
{
    const qint64 end = size();
    char last = '\n';
    return end <= 0 || (::pread(int(m_handle), &last, 1, off_t(end - 1)) == 1 && last == '\n');
}

bool RecordFile::append(const QByteArray &bytes, QString *failure)
{
    const qint64 before = size();
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(int(m_handle), bytes.constData() + done, size_t(bytes.size() - done));
        if (written > 0) {
            done += written;
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        // A short write is followed by one that says why it stopped.
        *failure = qt_error_string(written < 0 ? errno : ENOSPC);
        if (before >= 0)
            resize(before);
        return false;
    }
    if (::fsync(int(m_handle)) != 0 && errno != EINVAL) {
        *failure = qt_error_string(errno);
        resize(before);
        return false;
    }
    return true;
}

bool RecordFile::resize(qint64 size)
{
    return ::ftruncate(int(m_handle), off_t(size)) == 0;
}
