#include "image/regularfile.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool openRegularFile(const QString &path, QFile *file, QString *failure)
{
#ifdef Q_OS_WIN
    // The link itself is opened, not what it points to, so that it can be told.
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            *failure = QStringLiteral("there is no such file");
        else if (error == ERROR_ACCESS_DENIED && (GetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16())) &
                                                  FILE_ATTRIBUTE_DIRECTORY))
            *failure = QStringLiteral("it is not a regular file");
        else
            *failure = QStringLiteral("it cannot be read (Windows error %1)").arg(error);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information);
    if (known && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        *failure = QStringLiteral("it is a link, which is not followed");
    } else if (!known || GetFileType(handle) != FILE_TYPE_DISK ||
               (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *failure = QStringLiteral("it is not a regular file");
    } else {
        const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
        if (descriptor >= 0 && file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            return true;
        *failure = QStringLiteral("it cannot be read");
        if (descriptor >= 0)
            _close(descriptor);
        return false;
    }
    CloseHandle(handle);
    return false;
#else
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            *failure = QStringLiteral("there is no such file");
        else if (error == ELOOP)
            *failure = QStringLiteral("it is a symbolic link, which is not followed");
        else
            *failure = QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        *failure = QStringLiteral("it is not a regular file");
        ::close(descriptor);
        return false;
    }
    if (file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    *failure = QStringLiteral("it cannot be read");
    ::close(descriptor);
    return false;
#endif
}
