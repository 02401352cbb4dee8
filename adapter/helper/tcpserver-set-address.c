/*
 * tcpserver-set-address INTERFACE
 * tcpserver-set-address --restore INTERFACE
 *
 * Gives the PC's wired adapter 192.168.0.92/24 beside its own addresses, its
 * routes left alone; with --restore, takes 192.168.0.92/24 away again, and
 * nothing else. That is all it does. It is what ModifyIP, and giving the
 * adapter back its settings, run on Linux for a user who is not root:
 * installed with CAP_NET_ADMIN as a file capability and executable only by the
 * members of the group tcpserver, the way ping holds its one capability. So
 * it trusts nothing it is given: it ignores its environment, takes exactly
 * one interface, accepts only a wired adapter's name as the window knows them
 * (so never lo, eth0, a VPN or an alias such as Ethernet:1), of an interface
 * that exists under exactly that name and is not a loopback, and talks to the
 * kernel directly (rtnetlink), running no other program. Keeping no state of
 * its own, it cannot be led to give an adapter any other address: what it
 * adds is always 192.168.0.92/24, and what it takes away only that.
 *
 * Exit status: 0 done; 1 the kernel refused; 2 bad usage; 3 not a wired
 * adapter's name; 4 no such interface; 5 a loopback interface; 6 nothing to
 * give back (the adapter does not hold 192.168.0.92/24).
 */
#define _DEFAULT_SOURCE
#include <libmnl/libmnl.h>

#include "adapter/adapternames.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define ADDRESS "192.168.0.92"
#define BROADCAST "192.168.0.255"
#define PREFIX 24

static struct mnl_socket *sock;
static char buffer[32768];
static unsigned int sequence;

static struct in_addr ours;
static int holds_ours;
static unsigned int wanted_index;

/* One of the wired adapter's names that an interface can carry (at most 15
 * bytes: the "Local Area Connection" names cannot). */
static int wired_adapter_name(const char *name)
{
    for (int i = 0; i < WIRED_ADAPTER_NAME_COUNT; ++i) {
        if (strlen(kWiredAdapterNames[i]) < IF_NAMESIZE && strcmp(name, kWiredAdapterNames[i]) == 0)
            return 1;
    }
    return 0;
}

static int is_loopback(const char *name)
{
    struct ifreq request;
    memset(&request, 0, sizeof request);
    memcpy(request.ifr_name, name, strlen(name));
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int known = probe >= 0 && ioctl(probe, SIOCGIFFLAGS, &request) == 0;
    if (probe >= 0)
        close(probe);
    /* An interface whose flags cannot be read is not trusted either. */
    return !known || (request.ifr_flags & IFF_LOOPBACK);
}

static struct nlmsghdr *request(int type, int flags, unsigned char prefix)
{
    struct nlmsghdr *header = mnl_nlmsg_put_header(buffer);
    header->nlmsg_type = (unsigned short)type;
    header->nlmsg_flags = (unsigned short)(NLM_F_REQUEST | flags);
    header->nlmsg_seq = ++sequence;
    struct ifaddrmsg *message = mnl_nlmsg_put_extra_header(header, sizeof *message);
    message->ifa_family = AF_INET;
    message->ifa_prefixlen = prefix;
    message->ifa_scope = RT_SCOPE_UNIVERSE;
    message->ifa_index = wanted_index;
    return header;
}

/* Notes whether the adapter holds 192.168.0.92/24. */
static int find_ours(const struct nlmsghdr *header, void *data)
{
    (void)data;
    const struct ifaddrmsg *message = mnl_nlmsg_get_payload(header);
    if (message->ifa_family != AF_INET || message->ifa_index != wanted_index || message->ifa_prefixlen != PREFIX)
        return MNL_CB_OK;
    const struct nlattr *attribute;
    mnl_attr_for_each(attribute, header, sizeof *message)
    {
        if (mnl_attr_get_type(attribute) == IFA_LOCAL && mnl_attr_get_payload_len(attribute) == 4 &&
            memcmp(mnl_attr_get_payload(attribute), &ours, 4) == 0)
            holds_ours = 1;
    }
    return MNL_CB_OK;
}

/* Sends the request and reads the kernel's answers until it is done; 0 when
 * it agreed. */
static int exchange(struct nlmsghdr *header, mnl_cb_t callback)
{
    if (mnl_socket_sendto(sock, header, header->nlmsg_len) < 0)
        return -1;
    const unsigned int port = mnl_socket_get_portid(sock);
    for (;;) {
        const ssize_t got = mnl_socket_recvfrom(sock, buffer, sizeof buffer);
        if (got < 0)
            return -1;
        const int result = mnl_cb_run(buffer, (size_t)got, sequence, port, callback, NULL);
        if (result <= MNL_CB_STOP)
            return result;
    }
}

int main(int argc, char *argv[])
{
    clearenv();
    const int restore = argc == 3 && strcmp(argv[1], "--restore") == 0;
    if (argc != 2 + restore || (argc == 2 && argv[1][0] == '-')) {
        fprintf(stderr, "usage: tcpserver-set-address [--restore] INTERFACE\n");
        return 2;
    }
    const char *name = argv[argc - 1];
    if (!wired_adapter_name(name)) {
        fprintf(stderr,
                "tcpserver-set-address: refused: \"%s\" is not one of the wired adapter's names "
                "(Ethernet, Ethernet2 to Ethernet5, and the Chinese names)\n",
                name);
        return 3;
    }
    /* The kernel's own name for the index must be the name given, whole. */
    char kernel_name[IF_NAMESIZE] = "";
    wanted_index = if_nametoindex(name);
    if (wanted_index == 0 || !if_indextoname(wanted_index, kernel_name) || strcmp(kernel_name, name) != 0) {
        fprintf(stderr, "tcpserver-set-address: refused: no interface is called %s\n", name);
        return 4;
    }
    if (is_loopback(name)) {
        fprintf(stderr, "tcpserver-set-address: refused: %s is a loopback interface\n", name);
        return 5;
    }
    sock = mnl_socket_open(NETLINK_ROUTE);
    if (!sock || mnl_socket_bind(sock, 0, MNL_SOCKET_AUTOPID) < 0) {
        perror("tcpserver-set-address: netlink");
        return 1;
    }
    sequence = (unsigned int)time(NULL);
    struct in_addr broadcast;
    inet_pton(AF_INET, ADDRESS, &ours);
    inet_pton(AF_INET, BROADCAST, &broadcast);
    if (exchange(request(RTM_GETADDR, NLM_F_DUMP, 0), find_ours) < 0)
        goto refused;

    if (restore) {
        if (!holds_ours) {
            fprintf(stderr, "tcpserver-set-address: nothing to give back: %s does not hold %s/%d\n", name, ADDRESS,
                    PREFIX);
            mnl_socket_close(sock);
            return 6;
        }
        struct nlmsghdr *header = request(RTM_DELADDR, NLM_F_ACK, PREFIX);
        mnl_attr_put(header, IFA_LOCAL, 4, &ours);
        if (exchange(header, NULL) < 0)
            goto refused;
    } else if (!holds_ours) {
        /* Beside its own: appended after them, so that the window finds it
         * as the adapter's last address. */
        struct nlmsghdr *header = request(RTM_NEWADDR, NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL, PREFIX);
        mnl_attr_put(header, IFA_LOCAL, 4, &ours);
        mnl_attr_put(header, IFA_ADDRESS, 4, &ours);
        mnl_attr_put(header, IFA_BROADCAST, 4, &broadcast);
        if (exchange(header, NULL) < 0)
            goto refused;
    }
    mnl_socket_close(sock);
    return 0;

refused:
    perror("tcpserver-set-address");
    mnl_socket_close(sock);
    return 1;
}
