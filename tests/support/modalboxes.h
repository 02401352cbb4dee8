#ifndef MODALBOXES_H
#define MODALBOXES_H

#include <QObject>
#include <QPointer>
#include <QWidget>
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
    // Called once for each box, with its text, while it is open and before it
    // is closed. Since an open box runs its own event loop, this is where a test
    // acts while a box is open; it may set `hold` to keep this box open until
    // a later one has been handled.
    std::function<void(const QString &)> whileOpen;

    int count() const { return texts.size(); }

    // Boxes currently open, outermost first.
    static int openCount();

private:
    void poll();
    QTimer m_timer;
    QList<QPointer<QWidget>> m_seen;
};

#endif // MODALBOXES_H
