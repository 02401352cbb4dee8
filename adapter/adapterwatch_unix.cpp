#include "adapter/adapterwatch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

AdapterWatch::AdapterWatch(QObject *parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(50);
    connect(&m_settle, &QTimer::timeout, this, &AdapterWatch::changed);
    // The kernel's own notifications (rtnetlink(7)): what is said is read
    // afresh by whoever listens, so only that something changed matters here.
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return;
    sockaddr_nl address = {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    m_descriptor = fd;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &AdapterWatch::readNotifications);
}

AdapterWatch::~AdapterWatch()
{
    delete m_notifier;
    if (m_descriptor != -1)
        ::close(int(m_descriptor));
}

void AdapterWatch::readNotifications()
{
    char buffer[8192];
    // Drained; a queue that overflowed (ENOBUFS) is a change all the same.
    while (::recv(int(m_descriptor), buffer, sizeof buffer, 0) > 0 || errno == ENOBUFS) { }
    m_settle.start();
}
