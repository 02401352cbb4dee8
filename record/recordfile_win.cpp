#include "record/recordfile.h"

#include "files/regularfile.h"

#include <windows.h>

namespace {
HANDLE handleOf(qintptr handle)
{
    return reinterpret_cast<HANDLE>(handle);
}
} // namespace

RecordFile::~RecordFile()
{
    if (m_handle != -1)
        CloseHandle(handleOf(m_handle));
}

bool RecordFile::open(const QString &path, QString *failure)
{
    // The link itself is opened, not what it points to, so that it can be told.
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *failure = qt_error_string(int(GetLastError()));
        return false;
    }
    if (!keepRegularFile(reinterpret_cast<qintptr>(handle), failure))
        return false;
    m_handle = reinterpret_cast<qintptr>(handle);
    return true;
}

qint64 RecordFile::size() const
{
    LARGE_INTEGER size;
    return GetFileSizeEx(handleOf(m_handle), &size) ? qint64(size.QuadPart) : -1;
}

bool RecordFile::endsWithLineBreak() const
{
    const qint64 end = size();
    if (end <= 0)
        return true;
    char last = 0;
    DWORD read = 0;
    OVERLAPPED at{};
    at.Offset = DWORD(quint64(end - 1) & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(quint64(end - 1) >> 32);
    return ReadFile(handleOf(m_handle), &last, 1, &read, &at) && read == 1 && last == '\n';
}

bool RecordFile::append(const QByteArray &bytes, QString *failure)
{
    const qint64 before = size();
    qint64 done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        // Both halves all ones: at the end of the file, whatever it is now.
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xFFFFFFFFu;
        atEnd.OffsetHigh = 0xFFFFFFFFu;
        const DWORD chunk = DWORD(qMin<qint64>(bytes.size() - done, 1 << 30));
        if (!WriteFile(handleOf(m_handle), bytes.constData() + done, chunk, &written, &atEnd) || written == 0) {
            const DWORD error = GetLastError();
            *failure = qt_error_string(int(error == ERROR_SUCCESS ? ERROR_DISK_FULL : error));
            if (before >= 0)
                resize(before);
            return false;
        }
        done += written;
    }
    if (!FlushFileBuffers(handleOf(m_handle))) {
        *failure = qt_error_string(int(GetLastError()));
        resize(before);
        return false;
    }
    return true;
}

bool RecordFile::resize(qint64 size)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(handleOf(m_handle), FileEndOfFileInfo, &end, sizeof end);
}
