#ifndef SHA256_H
#define SHA256_H

#include <QByteArray>
#include <QString>

// The SHA-256 digest as 64 lower-case hex digits: the image's identity in the
// window, in the flash record and in the device emulator's verdict. Computed
// by the platform's own well-kept implementation (libcrypto here, CNG on
// Windows): Qt's built-in one is about 25 times slower on this hardware, which
// for a 1 GiB image is 20 seconds instead of one.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, qint64 length);
    // Empty when the library failed: no digest rather than a wrong one.
    QString hexResult();

private:
    // The platform's halves: sha256_unix.cpp, sha256_win.cpp.
    struct State;
    State *d;
    bool start();
    bool add(const char *data, qint64 length);
    bool result(unsigned char *digest);
    bool m_good;
};

QString sha256Hex(const QByteArray &bytes);

#endif // SHA256_H
