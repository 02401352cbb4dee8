#ifndef TRANSFERREPORT_H
#define TRANSFERREPORT_H

#include <QDateTime>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QUuid>

class FlashImage;

// Which device connection a report or a signal is about: the connection's
// number (the server counts them from 1), the adapter it came through and the
// device's address as the operator reads it. A value, so that it may cross
// from the thread that serves to the one that shows.
struct DeviceConnection
{
    int number = 0;
    QString adapter;
    QString address;
    // Which of the images handed over it was offered last (counted from 1;
    // 0: none yet), so that what it says of an earlier one can be told.
    int generation = 0;
};

// How one transfer ended, as the server saw it, with everything its row in the
// flash record needs: the window, the station and the record each tell it in
// their own way. A transfer begins when a device asks for the length of the
// image held (or for its first block); a request refused for want of an image
// is reported the same way.
struct TransferReport
{
    enum Ending {
        Complete, // every block went out and then the device closed
        DeviceClosed, // the device closed before it had every block
        Stalled, // the device stopped asking; the server closed it
        Restarted, // a new image was handed over; the server closed it
        Stopped, // the program was told to stop (window closed, station ended)
        Refused, // the device asked before an image was held
        Paused, // the device came to a fixture that is paused; closed at once
    };

    Ending ending = DeviceClosed;
    DeviceConnection connection;
    QString deviceMac; // from the neighbour table; empty when unknown
    QString server; // the local address the device reached
    QSharedPointer<FlashImage> image; // what was served; null for a refusal
    QDateTime started; // with the local offset from UTC
    QDateTime ended;
    int blocksSent = 0; // blocks written to the connection
    qint64 bytesSent = 0; // image bytes among them (without the last block's filler)
    qint64 elapsedNs = 0;
    // Connections this report stands for: more than one for a crowd of empty
    // transfers from one device counted together (BurstFilter).
    int connections = 1;
    // This flash's own identity, made when it began; null for a refusal.
    QUuid flashId;
    // What the program that served it adds: its name for the station, and
    // the unit's serial as scanned for this flash.
    QString station;
    QString serial;

    double seconds() const { return elapsedNs / 1e9; }
    double mibPerSecond() const { return elapsedNs > 0 ? bytesSent / (1024.0 * 1024.0) / seconds() : 0; }
};

Q_DECLARE_METATYPE(DeviceConnection)
Q_DECLARE_METATYPE(TransferReport)

// How the operator and the record word an ending; stoppedResult words Stopped
// for the program that stopped ("window closed mid-flash").
QString endingText(TransferReport::Ending ending, const QString &stoppedResult);

// The record's result: the ending's words, and for a crowd counted together
// how many connections took no block.
QString resultText(const TransferReport &report, const QString &stoppedResult);

// One fixed word per ending, for programs that read what the station says.
QString endingWord(TransferReport::Ending ending);

#endif // TRANSFERREPORT_H
