#include "window/flashstatus.h"

#include "image/flashimage.h"
#include "window/colours.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QStatusBar>

namespace {

QLabel *addLabel(QStatusBar *bar, const char *name)
{
    auto *label = new QLabel;
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    // A long text may be cut where the window is narrow, rather than widen the
    // window beyond the screen; its tooltip holds it whole. The bar's height is
    // that of a line from the start, so that the first text moves nothing.
    label->setMinimumSize(1, label->fontMetrics().height());
    bar->addWidget(label);
    return label;
}

} // namespace

FlashStatus::FlashStatus(QStatusBar *bar)
    : QObject(bar)
    , m_image(addLabel(bar, "imageLabel"))
    , m_lastFlash(addLabel(bar, "lastFlashLabel"))
    , m_record(addLabel(bar, "recordLabel"))
    , m_note(addLabel(bar, "noteLabel"))
    , m_database(addLabel(bar, "databaseLabel"))
{
    setColour({m_record, m_note}, Colour::Red);
    auto *copy = new QAction(QStringLiteral("Copy SHA-256"), m_image);
    copy->setObjectName(QStringLiteral("copyDigestAction"));
    copy->setEnabled(false);
    m_image->addAction(copy);
    m_image->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, [this] {
        if (m_shown)
            QGuiApplication::clipboard()->setText(m_shown->sha256());
    });
}

void FlashStatus::showImage(const QSharedPointer<FlashImage> &image)
{
    if (m_shown)
        m_shown->disconnect(this);
    m_shown = image;
    const QString name = QDir::toNativeSeparators(image->path());
    if (!image->isLoaded()) {
        setColour(m_image, Colour::Red);
        m_image->setText(QStringLiteral("Failed to read data: %1 (%2)").arg(image->failure(), name));
        m_image->setToolTip(QString());
        m_image->actions().first()->setEnabled(false);
        return;
    }
    setColour(m_image, Colour::Black);
    connect(image.data(), &FlashImage::digestComputed, this, &FlashStatus::showDigest);
    showDigest();
}

void FlashStatus::showDigest()
{
    const QString digest = m_shown->sha256();
    const QString identity = QStringLiteral("%1 · %2 bytes · SHA-256 ").arg(m_shown->fileName()).arg(m_shown->size());
    m_image->setText(identity +
                     (digest.isEmpty() ? QStringLiteral("being computed…") : digest.left(16) + QStringLiteral("…")));
    m_image->setToolTip(
            digest.isEmpty() ? QString()
                             : QStringLiteral("SHA-256 %1\n%2").arg(digest, QDir::toNativeSeparators(m_shown->path())));
    m_image->actions().first()->setEnabled(!digest.isEmpty());
}

void FlashStatus::showLastFlash(const TransferReport &report)
{
    QString text = QStringLiteral("Last flash: %1 at %2, device %3")
                           .arg(resultText(report, QStringLiteral("window closed mid-flash")),
                                report.ended.time().toString(QStringLiteral("HH:mm:ss")), report.connection.address);
    // The hardware address only where the PC knows it.
    if (!report.deviceMac.isEmpty())
        text += QStringLiteral(" (%1)").arg(report.deviceMac);
    m_lastFlash->setText(text);
    m_lastFlash->setToolTip(text);
    setColour(m_lastFlash, report.ending == TransferReport::Complete ? Colour::Green : Colour::Red);
}

void FlashStatus::showRecordFailure(const QString &reason, int waiting)
{
    m_record->setText(QStringLiteral("The flash record was not written: %1 (%2 rows wait)").arg(reason).arg(waiting));
    m_record->setToolTip(m_record->text());
}

void FlashStatus::showRecordDelay(int waiting, const QDateTime &since)
{
    m_record->setText(QStringLiteral("The flash record is behind: %1 rows wait to be written, since %2 (a slow disk)")
                              .arg(waiting)
                              .arg(since.time().toString(QStringLiteral("HH:mm:ss"))));
    m_record->setToolTip(m_record->text());
}

void FlashStatus::clearRecordFailure()
{
    m_record->clear();
}

void FlashStatus::showDatabase(const QString &text)
{
    m_database->setText(text);
    m_database->setToolTip(text);
}

void FlashStatus::showNote(const QString &text)
{
    m_note->setText(text);
    m_note->setToolTip(text);
}
