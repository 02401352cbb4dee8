#ifndef FIXTURETILE_H
#define FIXTURETILE_H

#include "session/fixturemodel.h"

#include <QFrame>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

// One place of a fixture, as the line sees it at a glance: its name, its
// state in words and by its background (waiting grey, flashing blue with its
// percentage, complete green, failed red with the reason, paused orange with
// the reason), the device and its MAC, the unit's serial, the seconds of the
// last flash and the fixture's counts. Its accessible name and description
// carry the same. With the keyboard focus it takes a barcode scanner's serial
// (typed, then Enter); on a paused fixture Resume (or R) resumes it.
class FixtureTile : public QFrame
{
    Q_OBJECT

public:
    FixtureTile(FixtureModel *model, int place, QWidget *parent = nullptr);

    int place() const { return m_place; }
    // Shows what the model holds now.
    void refresh();
    // What a screen reader says: the state in words.
    QString description() const;

signals:
    // A scan ended with Enter: what was typed.
    void scanned(int place, const QString &text);
    void resumeAsked(const QString &fixture);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QVariant value(int role) const;

    FixtureModel *const m_model;
    const int m_place;
    QLabel *m_name;
    QLabel *m_state;
    QProgressBar *m_bar;
    QLabel *m_device;
    QLabel *m_serial;
    QLabel *m_last;
    QPushButton *m_resume;
    QString m_typed; // what the scanner typed so far
};

#endif // FIXTURETILE_H
