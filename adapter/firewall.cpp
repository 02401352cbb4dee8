#include "adapter/firewall.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace {

bool portsCover(const QString &ports, int port)
{
    for (const QString &part : ports.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString range = part.trimmed();
        if (range == QLatin1String("*"))
            return true;
        const int dash = range.indexOf(QLatin1Char('-'));
        bool lowRead = false;
        bool highRead = false;
        const int first = range.left(dash < 0 ? range.size() : dash).toInt(&lowRead);
        const int last = dash < 0 ? first : range.mid(dash + 1).toInt(&highRead);
        if (lowRead && (dash < 0 || highRead) && first <= port && port <= last)
            return true;
    }
    return false;
}

// Windows' paths, compared as Windows does: either slash, any case.
QString windowsPath(QString text)
{
    return QDir::cleanPath(expandEnvironment(text).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

} // namespace

QString expandEnvironment(const QString &text)
{
    static const QRegularExpression variable(QStringLiteral("%([^%]+)%"));
    QString expanded;
    int at = 0;
    QRegularExpressionMatchIterator matches = variable.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = match.captured(1);
        expanded += text.mid(at, match.capturedStart() - at);
        expanded += qEnvironmentVariableIsSet(qPrintable(name)) ? qEnvironmentVariable(qPrintable(name))
                                                                : match.captured(0);
        at = match.capturedEnd();
    }
    return expanded + text.mid(at);
}

FirewallVerdict firewallVerdict(const FirewallState &state, const QString &program, int port)
{
    if (!state.enabled)
        return FirewallVerdict::Admits;
    if (state.blocksAllInbound)
        return FirewallVerdict::Blocks;
    const QString us = windowsPath(program);
    bool allowed = false;
    for (const FirewallRule &rule : state.rules) {
        const bool thisProgram =
                rule.application.isEmpty() || windowsPath(rule.application).compare(us, Qt::CaseInsensitive) == 0;
        // A rule for every protocol takes no ports.
        const bool thisPort = rule.protocol == 256 || (rule.protocol == 6 && portsCover(rule.localPorts, port));
        if (!rule.enabled || !rule.inbound || !(rule.profiles & state.profile) || !thisProgram || !thisPort)
            continue;
        if (!rule.allows)
            return FirewallVerdict::Blocks;
        allowed = true;
    }
    return allowed ? FirewallVerdict::Admits : FirewallVerdict::Blocks;
}
