#include "adapter/firewall.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <initguid.h> // the class and interface ids below, defined here
#include <netfw.h>
#include <netlistmgr.h>
#include <oleauto.h>

#include <initializer_list>
#include <vector>

namespace {

// The id Windows gives the adapter, from its name as the operator reads it.
bool adapterId(const QString &adapter, GUID *id)
{
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer(size);
    auto *addresses = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
    ULONG result =
            GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr, addresses, &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size);
        addresses = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
        result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr, addresses,
                                      &size);
    }
    if (result != NO_ERROR)
        return false;
    for (IP_ADAPTER_ADDRESSES *each = addresses; each; each = each->Next) {
        if (QString::fromWCharArray(each->FriendlyName) != adapter)
            continue;
        const QString text = QString::fromLatin1(each->AdapterName);
        return SUCCEEDED(CLSIDFromString(reinterpret_cast<LPCOLESTR>(text.utf16()), id));
    }
    return false;
}

// The profile of the network the adapter is on. One Windows does not know (no
// cable yet, or an adapter without a network) is judged as Public: that is
// what an unidentified network, a PC cabled straight to a device, becomes.
int adapterProfile(const QString &adapter)
{
    GUID wanted{};
    INetworkListManager *manager = nullptr;
    IEnumNetworkConnections *connections = nullptr;
    int profile = PublicProfile;
    if (!adapterId(adapter, &wanted) ||
        FAILED(CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkListManager,
                                reinterpret_cast<void **>(&manager))) ||
        FAILED(manager->GetNetworkConnections(&connections))) {
        if (manager)
            manager->Release();
        return profile;
    }
    INetworkConnection *connection = nullptr;
    while (connections->Next(1, &connection, nullptr) == S_OK) {
        GUID id{};
        INetwork *network = nullptr;
        NLM_NETWORK_CATEGORY category = NLM_NETWORK_CATEGORY_PUBLIC;
        if (SUCCEEDED(connection->GetAdapterId(&id)) && IsEqualGUID(id, wanted) &&
            SUCCEEDED(connection->GetNetwork(&network)) && SUCCEEDED(network->GetCategory(&category))) {
            profile = category == NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED ? DomainProfile
                    : category == NLM_NETWORK_CATEGORY_PRIVATE              ? PrivateProfile
                                                                            : PublicProfile;
        }
        if (network)
            network->Release();
        connection->Release();
    }
    connections->Release();
    manager->Release();
    return profile;
}

bool readRule(INetFwRule *found, FirewallRule *rule)
{
    VARIANT_BOOL enabled = VARIANT_FALSE;
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    long profiles = 0;
    long protocol = 0;
    BSTR ports = nullptr;
    BSTR application = nullptr;
    const bool answered = SUCCEEDED(found->get_Enabled(&enabled)) && SUCCEEDED(found->get_Direction(&direction)) &&
            SUCCEEDED(found->get_Action(&action)) && SUCCEEDED(found->get_Profiles(&profiles)) &&
            SUCCEEDED(found->get_Protocol(&protocol)) && SUCCEEDED(found->get_LocalPorts(&ports)) &&
            SUCCEEDED(found->get_ApplicationName(&application));
    rule->enabled = enabled == VARIANT_TRUE;
    rule->inbound = direction == NET_FW_RULE_DIR_IN;
    rule->allows = action == NET_FW_ACTION_ALLOW;
    rule->profiles = int(profiles);
    rule->protocol = int(protocol);
    rule->localPorts = ports ? QString::fromWCharArray(ports) : QString();
    rule->application = application ? QString::fromWCharArray(application) : QString();
    SysFreeString(ports);
    SysFreeString(application);
    return answered;
}

} // namespace

FirewallVerdict checkFirewall(const QString &program, int port, const QString &adapter)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    FirewallVerdict verdict = FirewallVerdict::Unknown;
    INetFwPolicy2 *policy = nullptr;
    INetFwRules *rules = nullptr;
    IUnknown *listing = nullptr;
    IEnumVARIANT *each = nullptr;
    FirewallState state;
    state.profile = adapterProfile(adapter);
    const auto profile = NET_FW_PROFILE_TYPE2(state.profile);
    VARIANT_BOOL enabled = VARIANT_FALSE;
    VARIANT_BOOL blocks = VARIANT_FALSE;
    // Every question must be answered; one that is not makes the whole Unknown.
    bool answered = SUCCEEDED(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                               reinterpret_cast<void **>(&policy))) &&
            SUCCEEDED(policy->get_FirewallEnabled(profile, &enabled)) &&
            SUCCEEDED(policy->get_BlockAllInboundTraffic(profile, &blocks));
    state.enabled = enabled == VARIANT_TRUE;
    state.blocksAllInbound = blocks == VARIANT_TRUE;
    answered = answered && SUCCEEDED(policy->get_Rules(&rules)) && SUCCEEDED(rules->get__NewEnum(&listing)) &&
            SUCCEEDED(listing->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void **>(&each)));
    VARIANT item;
    VariantInit(&item);
    while (answered && each->Next(1, &item, nullptr) == S_OK) {
        INetFwRule *found = nullptr;
        if (item.vt == VT_DISPATCH && item.pdispVal &&
            SUCCEEDED(item.pdispVal->QueryInterface(IID_INetFwRule, reinterpret_cast<void **>(&found)))) {
            FirewallRule rule;
            answered = readRule(found, &rule);
            state.rules << rule;
            found->Release();
        }
        VariantClear(&item);
    }
    if (answered)
        verdict = firewallVerdict(state, program, port);
    for (IUnknown *object : std::initializer_list<IUnknown *>{each, listing, rules, policy}) {
        if (object)
            object->Release();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return verdict;
}
