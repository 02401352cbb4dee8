#ifndef NETNS_H
#define NETNS_H

#include <QString>
#include <QStringList>

// Tests that make or change network interfaces do so only inside a network
// namespace of their own, never in the machine's.
namespace netns {

// True when this process runs in another network namespace than the
// machine's first process, i.e. in one that a test wrapper made for it.
bool isPrivate();

// Why interfaces cannot be made here, or an empty text when they can.
QString whyNot();

// Runs `ip ARGS` (only inside a private namespace); returns its exit status and
// leaves its output in *output.
int ip(const QStringList &arguments, QString *output = nullptr);

// The IPv4 addresses of an interface as `ip -4 addr` reads them ("a.b.c.d/len").
QStringList ipv4Of(const QString &interface);

} // namespace netns

#endif // NETNS_H
