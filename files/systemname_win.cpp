#include "files/systemname.h"

#include <QCoreApplication>

QStringList systemArguments(int argc, char **argv)
{
    // Windows' own UTF-16 command line, which Qt reads whole.
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return QCoreApplication::arguments().mid(1);
}
