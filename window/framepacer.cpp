#include "window/framepacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLayout>
#include <QWidget>

FramePacer::FramePacer(QWidget *window, int frameMsec)
    : QObject(window)
    , m_window(window)
    , m_frameMsec(frameMsec)
{
    m_frameEnd.setSingleShot(true);
    connect(&m_frameEnd, &QTimer::timeout, this, &FramePacer::endFrame);
    // Qt asks for a repaint by posting an UpdateRequest to the window, and for
    // a layout pass by posting a LayoutRequest to a widget that has a layout.
    // The application hands a LayoutRequest to the widget's layout before any
    // filter on the widget sees it, so only an application filter can hold it.
    QCoreApplication::instance()->installEventFilter(this);
}

FramePacer::~FramePacer()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool FramePacer::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::UpdateRequest && type != QEvent::LayoutRequest) || m_delivering)
        return false;
    if (!watched->isWidgetType())
        return false;
    QWidget *widget = static_cast<QWidget *>(watched);
    if (type == QEvent::UpdateRequest ? widget != m_window : widget->window() != m_window)
        return false;

    if (!m_frameEnd.isActive() && (!m_frameStart.isValid() || m_frameStart.elapsed() >= m_frameMsec)) {
        // The first request of a new frame goes through at once.
        m_frameStart.start();
        return false;
    }
    if (type == QEvent::UpdateRequest)
        m_repaintPending = true;
    else if (!m_pendingLayouts.contains(widget))
        m_pendingLayouts.append(widget);
    if (!m_frameEnd.isActive())
        m_frameEnd.start(int(qMax<qint64>(1, m_frameMsec - m_frameStart.elapsed())));
    return true;
}

void FramePacer::endFrame()
{
    m_frameStart.start();
    m_delivering = true;
    // Layouts first, so that the repaint shows the widgets where they now belong.
    const QList<QPointer<QWidget>> layouts = m_pendingLayouts;
    m_pendingLayouts.clear();
    for (const QPointer<QWidget> &widget : layouts) {
        if (widget) {
            QEvent request(QEvent::LayoutRequest);
            QCoreApplication::sendEvent(widget, &request);
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (m_repaintPending) {
        m_repaintPending = false;
        QEvent request(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(m_window, &request);
    }
    m_delivering = false;
}
