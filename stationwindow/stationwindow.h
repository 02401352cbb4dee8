#ifndef STATIONWINDOW_H
#define STATIONWINDOW_H

#include <QList>
#include <QMainWindow>
#include <QSet>
#include <QTimer>

class FixtureTile;
class QLabel;
class Station;

// The station at a glance: the image and the session's counts in a header,
// a tile per fixture place (16 fit a 1366 × 768 screen, more scroll), and a
// status bar for what the operator should know. The serial a barcode scanner
// types goes to the tile with the keyboard focus. It only listens to the
// station and its session, and shows their changes at most ten times a
// second: no block ever waits for it.
class StationWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit StationWindow(Station *station, QWidget *parent = nullptr);

    QList<FixtureTile *> tiles() const { return m_tiles; }
    // The line in the status bar.
    void say(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void serving();
    void failed(const QString &error);
    void scanned(int place, const QString &text);
    void showHeader();
    void showChanged();

    Station *m_station;
    QLabel *m_image;
    QLabel *m_counts;
    QWidget *m_grid;
    QList<FixtureTile *> m_tiles;
    QSet<int> m_changed; // places to show anew
    QTimer m_frame; // at most ten times a second
    bool m_finished = false;
    bool m_failed = false;
};

#endif // STATIONWINDOW_H
