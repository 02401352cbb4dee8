// How the image's digest costs: reads an image as Download does, has its
// SHA-256 computed on the digest's own thread, and meanwhile ticks a 5 ms
// timer on the event loop, as the window's would.
//
//   digest-driver FILE
//
// Prints the seconds the read and the digest took, the longest gap between
// two ticks while the digest was computed, and the digest.
#include "image/flashimage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    if (argc != 2) {
        out << "usage: digest-driver FILE\n";
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    const QSharedPointer<FlashImage> image = FlashImage::load(QString::fromLocal8Bit(argv[1]));
    const qint64 readNs = clock.nsecsElapsed();
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestNs = 0;
    qint64 digestNs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestNs = qMax(longestNs, sinceTick.nsecsElapsed());
        sinceTick.start();
    });
    tick.start(5);
    QObject::connect(image.data(), &FlashImage::digestComputed, &tick, [&] {
        digestNs = clock.nsecsElapsed() - readNs;
        longestNs = qMax(longestNs, sinceTick.nsecsElapsed());
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    out << "read " << QString::number(readNs / 1e9, 'f', 3) << " s, digest " << QString::number(digestNs / 1e9, 'f', 3)
        << " s, longest event-loop gap " << QString::number(longestNs / 1e6, 'f', 1) << " ms, sha256 "
        << image->sha256() << "\n";
    return image->isLoaded() ? 0 : 1;
}
