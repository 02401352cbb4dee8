#include "files/systemname.h"

QStringList systemArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << nameFromSystem(QByteArray(argv[i]));
    return arguments;
}
