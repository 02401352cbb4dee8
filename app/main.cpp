#include "window/application.h"
#include "window/serverinterface.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    prepareApplication();
    QApplication application(argc, argv);
    applicationStarted();
    SingleInstance instance;
    if (!instance.claim())
        return 1;
    ServerInterface window;
    window.show();
    return application.exec();
}
