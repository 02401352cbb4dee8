#ifndef MODALBOXES_H
#define MODALBOXES_H

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// Closes every modal box as soon as it shows, remembering its title and text.
// While `hold` is set, boxes are left open (to test what happens meanwhile).
class ModalBoxes : public QObject
{
    Q_OBJECT

public:
    explicit ModalBoxes(QObject *parent = nullptr);

    QStringList texts;
    QStringList titles;
    bool hold = false;
    // Called with the box's text while it is open, before it is closed.
    std::function<void(const QString &)> whileOpen;

    int count() const { return texts.size(); }

    // Boxes currently open, outermost first.
    static int openCount();

private:
    void poll();
    QTimer m_timer;
    QObject *m_lastSeen = nullptr;
};

#endif // MODALBOXES_H
