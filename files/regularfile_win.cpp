#include "files/regularfile.h"

#include <QFile>

#include <windows.h>
#include <fcntl.h>
#include <io.h>

bool openRegularFile(const QString &path, QFile *file, QString *failure)
{
    // The link itself is opened, not what it points to, so that it can be told.
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            *failure = QStringLiteral("there is no such file");
        else if (error == ERROR_ACCESS_DENIED &&
                 (GetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16())) & FILE_ATTRIBUTE_DIRECTORY))
            *failure = QStringLiteral("it is not a regular file");
        else
            *failure = QStringLiteral("it cannot be read (%1)").arg(qt_error_string(int(error)));
        return false;
    }
    if (!keepRegularFile(reinterpret_cast<qintptr>(handle), failure))
        return false;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor >= 0 && file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    *failure = QStringLiteral("it cannot be read");
    if (descriptor >= 0)
        _close(descriptor);
    else
        CloseHandle(handle);
    return false;
}

bool keepRegularFile(qintptr file, QString *failure)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information);
    if (known && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        *failure = QStringLiteral("it is a link, which is not followed");
    else if (!known || GetFileType(handle) != FILE_TYPE_DISK ||
             (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        *failure = QStringLiteral("it is not a regular file");
    else
        return true;
    CloseHandle(handle);
    return false;
}

bool ownedByThisUser(const QFile &file)
{
    Q_UNUSED(file)
    return true;
}
