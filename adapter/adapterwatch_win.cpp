#include "adapter/adapterwatch.h"

// Listening on one adapter alone (--adapter) is Linux's; on Windows the
// station listens on every address, which no adapter's coming or going
// touches, so there is nothing to watch.
AdapterWatch::AdapterWatch(QObject *parent)
    : QObject(parent)
{
}

AdapterWatch::~AdapterWatch() = default;

void AdapterWatch::readNotifications() { }
