#ifndef FRAMEPACER_H
#define FRAMEPACER_H

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

// Lays out and repaints a window at most once per display frame.
//
// During a transfer the window's widgets change on every block, thousands of
// times a second: the progress value, the message and its colour. Every change
// is made the moment it happens. Qt would then re-run the window's layouts and
// repaint it after each one, although a display shows at most one frame every
// 16 ms; that costs several times more than serving the block. The pacer lets
// the first layout or repaint of a frame through at once and gathers the rest
// of that frame into one layout pass and one repaint when the frame is over.
// So the screen is never more than a frame behind the widgets, and the last
// state is always shown.
class FramePacer : public QObject
{
public:
    explicit FramePacer(QWidget *window, int frameMsec = 16);
    ~FramePacer() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void endFrame();

    QWidget *m_window;
    const int m_frameMsec;
    QElapsedTimer m_frameStart;
    QTimer m_frameEnd;
    QList<QPointer<QWidget>> m_pendingLayouts;
    bool m_repaintPending = false;
    bool m_delivering = false;
};

#endif // FRAMEPACER_H
