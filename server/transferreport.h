#ifndef TRANSFERREPORT_H
#define TRANSFERREPORT_H

#include <QDateTime>
#include <QMetaType>
#include <QString>

// How one transfer ended, as the server saw it: the window, the station and
// the flash log each tell it in their own way. A transfer begins when a device
// asks for the length of the image held (or for its first block); a request
// refused for want of an image is reported the same way.
struct TransferReport
{
    enum Ending {
        Complete,     // every block went out and then the device closed
        DeviceClosed, // the device closed before it had every block
        Stalled,      // the device stopped asking; the server closed it
        Restarted,    // a new image was handed over; the server closed it
        Stopped,      // the program was told to stop (window closed, station ended)
        Refused,      // the device asked before an image was held
    };

    Ending ending = DeviceClosed;
    QString device;    // the device's address as shown to the operator
    QString deviceMac; // from the neighbour table; empty when unknown
    QString server;    // the local address the device reached
    QDateTime started; // with the local offset from UTC
    QDateTime ended;
    int blocksSent = 0;
    qint64 bytesSent = 0; // image bytes delivered (without the last block's filler)
    qint64 imageSize = 0;
    qint64 elapsedNs = 0;

    double seconds() const { return elapsedNs / 1e9; }
    double mibPerSecond() const { return elapsedNs > 0 ? bytesSent / (1024.0 * 1024.0) / seconds() : 0; }
};

Q_DECLARE_METATYPE(TransferReport)

// How the operator and the record word an ending; stoppedResult words Stopped
// for the program that stopped ("window closed mid-flash").
QString endingText(TransferReport::Ending ending, const QString &stoppedResult);

#endif // TRANSFERREPORT_H
