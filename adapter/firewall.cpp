#include "adapter/firewall.h"

#include <QDir>
#include <QStringList>

#ifdef Q_OS_WIN
#include <windows.h>
#include <initguid.h> // the firewall's class and interface ids, defined here
#include <netfw.h>
#include <oleauto.h>
#endif

namespace {

bool portsCover(const QString &ports, int port)
{
    for (const QString &part : ports.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString range = part.trimmed();
        if (range == QLatin1String("*"))
            return true;
        const int dash = range.indexOf(QLatin1Char('-'));
        bool low = false, high = false;
        const int first = range.left(dash < 0 ? range.size() : dash).toInt(&low);
        const int last = dash < 0 ? first : range.mid(dash + 1).toInt(&high);
        if (low && (dash < 0 || high) && first <= port && port <= last)
            return true;
    }
    return false;
}

} // namespace

FirewallVerdict firewallVerdict(const FirewallState &state, const QString &program, int port)
{
    if (!state.enabled)
        return FirewallVerdict::Admits;
    if (state.blocksAllInbound)
        return FirewallVerdict::Blocks;
    // Windows' paths, compared as Windows does: either slash, any case.
    auto path = [](QString text) { return QDir::cleanPath(text.replace(QLatin1Char('\\'), QLatin1Char('/'))); };
    const QString us = path(program);
    for (const FirewallRule &rule : state.rules) {
        const bool thisProgram = rule.application.isEmpty() || path(rule.application).compare(us, Qt::CaseInsensitive) == 0;
        // A rule for every protocol takes no ports.
        const bool thisPort = rule.protocol == 256 || (rule.protocol == 6 && portsCover(rule.localPorts, port));
        if (rule.enabled && rule.inbound && rule.allows && (rule.profiles & state.currentProfiles) && thisProgram &&
            thisPort)
            return FirewallVerdict::Admits;
    }
    return FirewallVerdict::Blocks;
}

FirewallVerdict checkFirewall(const QString &program, int port)
{
#ifdef Q_OS_WIN
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    FirewallVerdict verdict = FirewallVerdict::Unknown;
    INetFwPolicy2 *policy = nullptr;
    INetFwRules *rules = nullptr;
    IUnknown *listing = nullptr;
    IEnumVARIANT *each = nullptr;
    FirewallState state;
    long profiles = 0;
    // Every question must be answered; one that is not makes the whole Unknown.
    bool answered = SUCCEEDED(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                               reinterpret_cast<void **>(&policy))) &&
                    SUCCEEDED(policy->get_CurrentProfileTypes(&profiles));
    state.currentProfiles = int(profiles);
    for (const NET_FW_PROFILE_TYPE2 profile : {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC}) {
        VARIANT_BOOL enabled = VARIANT_FALSE, blocks = VARIANT_FALSE;
        if (!answered || !(profiles & profile))
            continue;
        answered = SUCCEEDED(policy->get_FirewallEnabled(profile, &enabled)) &&
                   SUCCEEDED(policy->get_BlockAllInboundTraffic(profile, &blocks));
        state.enabled = state.enabled || enabled == VARIANT_TRUE;
        state.blocksAllInbound = state.blocksAllInbound || (enabled == VARIANT_TRUE && blocks == VARIANT_TRUE);
    }
    answered = answered && SUCCEEDED(policy->get_Rules(&rules)) && SUCCEEDED(rules->get__NewEnum(&listing)) &&
               SUCCEEDED(listing->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void **>(&each)));
    VARIANT item;
    VariantInit(&item);
    while (answered && each->Next(1, &item, nullptr) == S_OK) {
        INetFwRule *found = nullptr;
        if (item.vt == VT_DISPATCH && item.pdispVal &&
            SUCCEEDED(item.pdispVal->QueryInterface(IID_INetFwRule, reinterpret_cast<void **>(&found)))) {
            FirewallRule rule;
            VARIANT_BOOL enabled = VARIANT_FALSE;
            NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
            NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
            long ruleProfiles = 0, protocol = 0;
            BSTR ports = nullptr, application = nullptr;
            answered = SUCCEEDED(found->get_Enabled(&enabled)) && SUCCEEDED(found->get_Direction(&direction)) &&
                       SUCCEEDED(found->get_Action(&action)) && SUCCEEDED(found->get_Profiles(&ruleProfiles)) &&
                       SUCCEEDED(found->get_Protocol(&protocol)) && SUCCEEDED(found->get_LocalPorts(&ports)) &&
                       SUCCEEDED(found->get_ApplicationName(&application));
            rule.enabled = enabled == VARIANT_TRUE;
            rule.inbound = direction == NET_FW_RULE_DIR_IN;
            rule.allows = action == NET_FW_ACTION_ALLOW;
            rule.profiles = int(ruleProfiles);
            rule.protocol = int(protocol);
            rule.localPorts = ports ? QString::fromWCharArray(ports) : QString();
            rule.application = application ? QString::fromWCharArray(application) : QString();
            SysFreeString(ports);
            SysFreeString(application);
            state.rules << rule;
            found->Release();
        }
        VariantClear(&item);
    }
    if (answered)
        verdict = firewallVerdict(state, program, port);
    for (IUnknown *object : std::initializer_list<IUnknown *>{each, listing, rules, policy})
        if (object)
            object->Release();
    if (SUCCEEDED(com))
        CoUninitialize();
    return verdict;
#else
    Q_UNUSED(program)
    Q_UNUSED(port)
    return FirewallVerdict::Unknown;
#endif
}
