#include "window/serverinterface.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    ServerInterface window;
    window.show();
    return application.exec();
}
