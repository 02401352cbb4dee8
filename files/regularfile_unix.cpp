#include "files/regularfile.h"

#include "files/systemname.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool openRegularFile(const QString &path, QFile *file, QString *failure)
{
    const int descriptor = ::open(nameToSystem(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            *failure = QStringLiteral("there is no such file");
        else if (error == ELOOP)
            *failure = QStringLiteral("it is a symbolic link, which is not followed");
        else
            *failure = QStringLiteral("it cannot be read (%1)").arg(qt_error_string(error));
        return false;
    }
    if (!keepRegularFile(descriptor, failure))
        return false;
    if (file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    *failure = QStringLiteral("it cannot be read");
    ::close(descriptor);
    return false;
}

bool keepRegularFile(qintptr handle, QString *failure)
{
    struct stat status;
    if (::fstat(int(handle), &status) == 0 && S_ISREG(status.st_mode))
        return true;
    *failure = QStringLiteral("it is not a regular file");
    ::close(int(handle));
    return false;
}

bool ownedByThisUser(const QFile &file)
{
    struct stat status;
    return ::fstat(file.handle(), &status) == 0 && status.st_uid == ::geteuid();
}
