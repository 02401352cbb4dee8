#ifndef SERVERINTERFACEFORM_H
#define SERVERINTERFACEFORM_H

#include <QCoreApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QMetaObject>
#include <QStatusBar>
#include <QToolBar>
#include <QWidget>

namespace Ui {

// The window's form, written the way the form compiler would write it: an empty
// menu bar, tool bar, central widget and status bar. The real content comes
// from ServerInterface::buildLayout().
class ServerInterface
{
public:
    QMenuBar *menuBar = nullptr;
    QToolBar *mainToolBar = nullptr;
    QWidget *centralWidget = nullptr;
    QStatusBar *statusBar = nullptr;

    void setupUi(QMainWindow *window)
    {
        if (window->objectName().isEmpty())
            window->setObjectName(QStringLiteral("ServerInterface"));
        window->resize(400, 300);
        menuBar = new QMenuBar(window);
        menuBar->setObjectName(QStringLiteral("menuBar"));
        window->setMenuBar(menuBar);
        mainToolBar = new QToolBar(window);
        mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
        window->addToolBar(mainToolBar);
        centralWidget = new QWidget(window);
        centralWidget->setObjectName(QStringLiteral("centralWidget"));
        window->setCentralWidget(centralWidget);
        statusBar = new QStatusBar(window);
        statusBar->setObjectName(QStringLiteral("statusBar"));
        window->setStatusBar(statusBar);

        retranslateUi(window);

        QMetaObject::connectSlotsByName(window);
    }

    void retranslateUi(QMainWindow *window)
    {
        window->setWindowTitle(QCoreApplication::translate("ServerInterface", "ServerInterface", nullptr));
    }
};

} // namespace Ui

#endif // SERVERINTERFACEFORM_H
