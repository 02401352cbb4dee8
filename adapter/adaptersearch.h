#ifndef ADAPTERSEARCH_H
#define ADAPTERSEARCH_H

#include <QString>

class NetworkAdapters;

// Finds the PC's wired adapter among the machine's interfaces by its display
// name and tells whether it holds the address the device looks for. Nothing is
// cached between searches: each one asks the system afresh.
class AdapterSearch
{
public:
    explicit AdapterSearch(NetworkAdapters *adapters);

    // The IPv4 address of the matched adapter as text, or an empty text. Every
    // interface, every name and every address entry is visited, so the last
    // match wins, both for the name and for the address.
    QString getServerIp();
    // True exactly when a fresh search finds the device's server address.
    bool judgeServerIp();

    // The name matched by the latest search that matched; kept when a later
    // one matches nothing.
    QString adapterName() const { return m_adapterName; }
    // True once any search has matched; never false again.
    bool adapterFound() const { return m_adapterFound; }
    NetworkAdapters *adapters() const { return m_adapters; }

private:
    NetworkAdapters *m_adapters;
    QString m_adapterName;
    bool m_adapterFound = false;
    QString m_adapterNames[100];
};

#endif // ADAPTERSEARCH_H
