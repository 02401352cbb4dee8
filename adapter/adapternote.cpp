#include "adapter/adapternote.h"

#include "files/regularfile.h"

#include <QAbstractSocket>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
const QByteArray kFirstLine = "TcpServer: how ModifyIP found the adapter";
} // namespace

QString AdapterNote::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/TcpServer/adapter-before-modifyip.txt");
}

AdapterNote::Reading AdapterNote::read(const QString &path, AdapterNote *note, QString *problem)
{
    const QFileInfo found(path);
    if (!found.exists() && !found.isSymLink())
        return Missing;
    QFile file;
    if (!openRegularFile(path, &file, problem))
        return NotAFile;
    if (!ownedByThisUser(file)) {
        *problem = QStringLiteral("it belongs to another user");
        return NotAFile;
    }
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    *note = AdapterNote();
    if (lines.value(0) != kFirstLine) {
        *problem = QStringLiteral("it is not a note of TcpServer's");
        return Unreadable;
    }
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line == "end" && !note->adapter.isEmpty())
            return Read;
        if (line == "end") {
            *problem = QStringLiteral("it names no adapter");
            return Unreadable;
        }
        const int equals = line.indexOf('=');
        const QByteArray key = line.left(equals);
        const QString value = QString::fromUtf8(line.mid(equals + 1));
        const QHostAddress address(value.section(QLatin1Char('/'), 0, 0));
        bool prefixRead = false;
        const int prefix = value.section(QLatin1Char('/'), 1).toInt(&prefixRead);
        if (key == "adapter" && !value.isEmpty())
            note->adapter = value;
        else if (key == "dhcp" && (value == QLatin1String("yes") || value == QLatin1String("no")))
            note->dhcp = value == QLatin1String("yes");
        else if (key == "address" && address.protocol() == QAbstractSocket::IPv4Protocol && prefixRead && prefix >= 0 &&
                 prefix <= 32)
            note->addresses.append({address.toString(), prefix});
        else if (key == "gateway" && address.protocol() == QAbstractSocket::IPv4Protocol)
            note->gateways.append(address.toString());
        else if (i < lines.size() - 1) {
            *problem = QStringLiteral("line %1 cannot be read").arg(i + 1);
            return Unreadable;
        }
    }
    *problem = QStringLiteral("it ends before its end");
    return Truncated;
}

bool AdapterNote::write(const QString &path, QString *failure) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray text = kFirstLine + "\nadapter=" + adapter.toUtf8() + "\ndhcp=" + (dhcp ? "yes" : "no") + '\n';
    for (const Address &entry : addresses)
        text += "address=" + entry.address.toUtf8() + '/' + QByteArray::number(entry.prefixLength) + '\n';
    for (const QString &gateway : gateways)
        text += "gateway=" + gateway.toUtf8() + '\n';
    text += "end\n";
    // Whole or not at all, and on the disk before the change it notes.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    *failure = file.errorString();
    return false;
}

QString AdapterNote::describe() const
{
    if (dhcp)
        return QStringLiteral("obtain an address automatically (DHCP)");
    QStringList shown;
    for (const Address &entry : addresses)
        shown << entry.address + QLatin1Char('/') + QString::number(entry.prefixLength);
    if (shown.isEmpty())
        return QStringLiteral("no IPv4 address");
    QString text = shown.join(QStringLiteral(", "));
    if (!gateways.isEmpty())
        text += QStringLiteral(" with the gateway ") + gateways.join(QStringLiteral(", "));
    return text;
}

bool AdapterNote::operator==(const AdapterNote &other) const
{
    auto text = [](const AdapterNote &note) {
        QStringList all{note.adapter, note.dhcp ? QStringLiteral("dhcp") : QString()};
        for (const Address &entry : note.addresses)
            all << entry.address + QLatin1Char('/') + QString::number(entry.prefixLength);
        return all + note.gateways;
    };
    return text(*this) == text(other);
}

QString maskOfPrefix(int prefixLength)
{
    const quint32 bits = prefixLength <= 0 ? 0u : ~quint32(0) << (32 - qMin(prefixLength, 32));
    return QHostAddress(bits).toString();
}
