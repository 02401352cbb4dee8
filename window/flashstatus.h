#ifndef FLASHSTATUS_H
#define FLASHSTATUS_H

#include "server/transferreport.h"

#include <QDateTime>
#include <QObject>
#include <QSharedPointer>

class FlashImage;
class QLabel;
class QStatusBar;

// The window's status bar: which image is loaded (name, size, SHA-256), how
// the last flash ended and with which device, and, in red, a flash record
// that could not be written.
class FlashStatus : public QObject
{
    Q_OBJECT

public:
    explicit FlashStatus(QStatusBar *bar);

    void showImage(const QSharedPointer<FlashImage> &image);
    void showLastFlash(const TransferReport &report);
    void showRecordFailure(const QString &reason, int waiting);
    void clearRecordFailure();
    void showRecordDelay(int waiting, const QDateTime &since);
    // A note that stays (in red): what the operator should know before flashing.
    void showNote(const QString &text);
    // How the line's database is doing.
    void showDatabase(const QString &text);

private:
    void showDigest();

    QLabel *m_image;
    QLabel *m_lastFlash;
    QLabel *m_record;
    QLabel *m_note;
    QLabel *m_database;
    QSharedPointer<FlashImage> m_shown;
};

#endif // FLASHSTATUS_H
