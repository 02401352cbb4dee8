#include "adapter/neighbours.h"

#include "adapter/networkadapters.h"
#include "files/systemname.h"

#include <QStringList>

QString hardwareAddressFromArpTable(const QString &table, const QHostAddress &address, const QString &adapter)
{
    const QHostAddress wanted = plainAddress(address);
    const QStringList lines = table.split(QLatin1Char('\n'));
    // IP address, HW type, Flags, HW address, Mask, Device; the first line names them.
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines.at(i).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 6 || QHostAddress(fields.at(0)) != wanted ||
            (!adapter.isEmpty() && nameFromSystem(fields.at(5).toLatin1()) != adapter))
            continue;
        bool ok = false;
        const uint flags = fields.at(2).toUInt(&ok, 16);
        const QString mac = fields.at(3).toLower();
        const bool complete = ok && (flags & 0x2) != 0; // ATF_COM
        if (complete && mac.size() == 17 && mac != QLatin1String("00:00:00:00:00:00"))
            return mac;
    }
    return QString();
}

QString neighbourHardwareAddress(const QHostAddress &address, const QString &adapter)
{
    const QHostAddress wanted = plainAddress(address);
    if (wanted.isNull() || wanted.isLoopback())
        return QString();
    return neighbours::lookUp(wanted, adapter);
}
