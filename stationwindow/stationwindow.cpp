#include "stationwindow/stationwindow.h"

#include "files/systemname.h"
#include "image/flashimage.h"
#include "record/databasesender.h"
#include "record/flashrecord.h"
#include "session/flashsession.h"
#include "station/station.h"
#include "stationwindow/fixturetile.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

namespace {
const int kColumns = 4;
const int kFrameMsec = 100;
} // namespace

StationWindow::StationWindow(Station *station, QWidget *parent)
    : QMainWindow(parent)
    , m_station(station)
    , m_image(new QLabel)
    , m_counts(new QLabel)
    , m_grid(new QWidget)
{
    setWindowTitle(QStringLiteral("TcpServer Station"));
    auto *central = new QWidget;
    auto *column = new QVBoxLayout(central);
    m_image->setObjectName(QStringLiteral("imageLabel"));
    m_image->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_image->setText(QStringLiteral("Loading the image…"));
    auto *copy = new QAction(QStringLiteral("Copy SHA-256"), m_image);
    m_image->addAction(copy);
    m_image->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, [this] {
        if (m_station->image())
            QGuiApplication::clipboard()->setText(m_station->image()->sha256());
    });
    m_counts->setObjectName(QStringLiteral("countsLabel"));
    // Long texts are cut where the window is narrow, rather than widen it beyond its screen.
    for (QLabel *label : {m_image, m_counts})
        label->setMinimumWidth(1);
    QFont big = m_image->font();
    big.setPointSizeF(big.pointSizeF() * 1.2);
    big.setBold(true);
    m_image->setFont(big);
    column->addWidget(m_image);
    column->addWidget(m_counts);
    auto *area = new QScrollArea;
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidget(m_grid);
    column->addWidget(area, 1);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    m_frame.setInterval(kFrameMsec);
    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &StationWindow::showChanged);
    connect(station, &Station::serving, this, &StationWindow::serving);
    connect(station, &Station::failed, this, &StationWindow::failed);
    connect(station, &Station::warned, this, &StationWindow::say);
    connect(station, &Station::finished, this, [this] {
        m_finished = true;
        close();
    });
    // Wide enough for four tiles, high enough for four rows, where the screen has room.
    const QFontMetrics metrics(font());
    const QSize tile(metrics.horizontalAdvance(QLatin1Char('M')) * 22, metrics.height() * 9);
    // Centred on its screen, and wholly on it, its frame too where the
    // platform knows it before the window shows: where it has no room, its
    // tiles scroll.
    winId();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const QRect room = screen()->availableGeometry().marginsRemoved(frame);
    const QSize size =
            QSize(tile.width() * kColumns + 40, tile.height() * 4 + metrics.height() * 8).boundedTo(room.size());
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, room));
}

void StationWindow::say(const QString &text)
{
    statusBar()->showMessage(text);
}

void StationWindow::serving()
{
    FlashSession *session = m_station->session();
    FixtureModel *fixtures = session->fixtures();
    auto *grid = new QGridLayout(m_grid);
    for (int place = 0; place < fixtures->rowCount(); ++place) {
        auto *tile = new FixtureTile(fixtures, place);
        grid->addWidget(tile, place / kColumns, place % kColumns);
        tile->show(); // at once, so that the first takes the focus now

        connect(tile, &FixtureTile::scanned, this, &StationWindow::scanned);
        connect(tile, &FixtureTile::resumeAsked, session, &FlashSession::resume);
        m_tiles.append(tile);
    }
    // Four columns of equal width, however few the tiles; what is left stays empty below.
    for (int column = 0; column < kColumns; ++column)
        grid->setColumnStretch(column, 1);
    grid->setRowStretch(int(m_tiles.size()) / kColumns + 1, 1);
    if (!m_tiles.isEmpty())
        m_tiles.first()->setFocus(Qt::OtherFocusReason);
    // The tiles are shown anew once a frame, whatever the line does meanwhile.
    connect(fixtures, &FixtureModel::dataChanged, this, [this](const QModelIndex &first, const QModelIndex &last) {
        for (int row = first.row(); row <= last.row(); ++row)
            m_changed.insert(row);
        if (!m_frame.isActive())
            m_frame.start();
    });
    connect(fixtures, &FixtureModel::countsChanged, this, [this] {
        if (!m_frame.isActive())
            m_frame.start();
    });
    connect(session, &FlashSession::fixturePaused, this, [this](const QString &fixture, const QString &reason) {
        say(QStringLiteral("%1 is paused: %2. Resume it on its tile once it is checked.")
                    .arg(fixture.isEmpty() ? QStringLiteral("The station") : printableName(fixture), reason));
    });
    connect(session, &FlashSession::adapterGone, this, [this](const QString &adapter) {
        say(QStringLiteral("%1 is gone: its fixture is not served").arg(printableName(adapter)));
    });
    connect(session, &FlashSession::adapterBack, this, [this](const QString &adapter) {
        say(QStringLiteral("%1 is back: its fixture is served again").arg(printableName(adapter)));
    });
    if (DatabaseSender *database = session->database()) {
        connect(database, &DatabaseSender::unreachable, this, [this, database](const QString &why) {
            say(QStringLiteral("The line's database cannot be reached (%1); %2 rows wait, in the local record too.")
                        .arg(why)
                        .arg(database->waiting()));
        });
        connect(database, &DatabaseSender::reached, this, [this](int caughtUp) {
            say(QStringLiteral("The line's database is reached again: %1 rows caught up.").arg(caughtUp));
        });
    }
    connect(m_station->image().data(), &FlashImage::digestComputed, this, &StationWindow::showHeader);
    showHeader();
}

void StationWindow::failed(const QString &error)
{
    // No device is served: said in red, and in a box the operator closes.
    m_failed = true;
    m_image->setStyleSheet(QStringLiteral("color:red;"));
    m_image->setText(QStringLiteral("No device is served: %1").arg(error));
    say(error);
    QMessageBox::information(this, QStringLiteral("TcpServer Station"), error, QMessageBox::Ok, QMessageBox::Ok);
}

void StationWindow::showHeader()
{
    const QSharedPointer<FlashImage> image = m_station->image();
    if (!image || m_failed)
        return;
    const QString digest = image->sha256();
    m_image->setText(QStringLiteral("%1 · %2 bytes · SHA-256 %3")
                             .arg(printableName(image->fileName()))
                             .arg(image->size())
                             .arg(digest.isEmpty() ? QStringLiteral("being computed…") : digest.left(16) + "…"));
    m_image->setToolTip(
            digest.isEmpty() ? QString()
                             : QStringLiteral("SHA-256 %1\n%2").arg(digest, QDir::toNativeSeparators(image->path())));
    const FixtureModel::Counts counts = m_station->session()->fixtures()->counts();
    m_counts->setText(QStringLiteral("Flashed %1 · complete %2 · failed %3 · first-pass yield %4")
                              .arg(counts.flashed)
                              .arg(counts.complete)
                              .arg(counts.failed)
                              .arg(counts.units > 0
                                           ? QStringLiteral("%1 %").arg(counts.firstPassYield() * 100, 0, 'f', 1)
                                           : QStringLiteral("–")));
}

void StationWindow::showChanged()
{
    const QSet<int> changed = m_changed;
    m_changed.clear();
    for (int place : changed)
        m_tiles.value(place)->refresh();
    showHeader();
}

void StationWindow::scanned(int place, const QString &text)
{
    FixtureModel *fixtures = m_station->session()->fixtures();
    const FixtureModel::Scan scan = m_station->session()->scan(place, text);
    const QString name = fixtures->data(fixtures->index(place), FixtureModel::NameRole).toString();
    QString refusal;
    switch (scan) {
    case FixtureModel::Scan::Taken: {
        say(QStringLiteral("%1 takes the serial %2 for its next flash").arg(name, text));
        m_tiles.at(place)->refresh();
        // On to the next tile that has no serial yet.
        for (int step = 1; step <= m_tiles.size(); ++step) {
            FixtureTile *next = m_tiles.at((place + step) % m_tiles.size());
            if (fixtures->serialOf(next->place()).isEmpty()) {
                next->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
        return;
    }
    case FixtureModel::Scan::NotASerial:
        refusal = QStringLiteral("not a serial: a serial is 1 to 64 printable characters");
        break;
    case FixtureModel::Scan::AlreadyComplete:
        refusal = QStringLiteral("the unit %1 was flashed whole already this session").arg(text.left(64));
        break;
    case FixtureModel::Scan::Flashing: refusal = QStringLiteral("a flash is in progress there"); break;
    }
    say(QStringLiteral("Scan refused on %1: %2").arg(name, refusal));
    QApplication::beep();
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (m_finished || m_failed || !m_station->session())
        return QMainWindow::closeEvent(event);
    // The station ends as at Ctrl+C: every flash in progress ends and is
    // recorded; the window goes once that is done.
    event->ignore();
    if (m_station->session()->transferRunning() &&
        QMessageBox::question(this, QStringLiteral("TcpServer Station"),
                              QStringLiteral("Devices are being flashed. If the station stops now, they are left "
                                             "half-written.\nStop the station anyway?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    m_station->stop();
}
