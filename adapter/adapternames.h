/* The wired adapter's display names as Windows gives them, in Chinese and in
 * English, each with the numbered variants written without a blank; UTF-8.
 * Plain C, so that the address helper, which has no Qt, accepts exactly the
 * names the window looks for. */
#ifndef ADAPTERNAMES_H
#define ADAPTERNAMES_H

#define WIRED_ADAPTER_NAME_COUNT 20

static const char *const kWiredAdapterNames[WIRED_ADAPTER_NAME_COUNT] = {
        "以太网5",
        "以太网4",
        "以太网3",
        "以太网2",
        "以太网",
        "本地连接5",
        "本地连接4",
        "本地连接3",
        "本地连接2",
        "本地连接",
        "Local Area Connection5",
        "Local Area Connection4",
        "Local Area Connection3",
        "Local Area Connection2",
        "Local Area Connection",
        "Ethernet5",
        "Ethernet4",
        "Ethernet3",
        "Ethernet2",
        "Ethernet",
};

#endif /* ADAPTERNAMES_H */
