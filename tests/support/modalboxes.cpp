#include "modalboxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>

ModalBoxes::ModalBoxes(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalBoxes::poll);
    m_timer.start();
}

int ModalBoxes::openCount()
{
    int count = 0;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (qobject_cast<QMessageBox *>(widget) && widget->isVisible())
            ++count;
    }
    return count;
}

void ModalBoxes::poll()
{
    QPointer<QMessageBox> box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return;
    m_seen.removeAll(QPointer<QWidget>());
    if (!m_seen.contains(box.data())) {
        m_seen.append(box.data());
        texts.append(box->text());
        titles.append(box->windowTitle());
        if (whileOpen)
            whileOpen(box->text());
    }
    if (hold || !box)
        return;
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}
