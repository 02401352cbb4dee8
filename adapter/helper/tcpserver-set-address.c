/*
 * tcpserver-set-address INTERFACE
 *
 * Gives one existing network interface 192.168.0.92/24 as its only IPv4
 * address, and does nothing else. It is what ModifyIP runs on Linux for a user
 * who is not root: installed with CAP_NET_ADMIN as a file capability and
 * executable only by the members of the group tcpserver, the way ping holds
 * its one capability. So it trusts nothing it is given: it ignores its
 * environment, takes exactly one argument, accepts only the name of an
 * existing interface, and talks to the kernel directly (rtnetlink), running
 * no other program.
 *
 * Exit status: 0 done; 1 the kernel refused; 2 bad usage or no such interface.
 */
#define _DEFAULT_SOURCE
#include <libmnl/libmnl.h>

#include <arpa/inet.h>
#include <errno.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

#define ADDRESS "192.168.0.92"
#define BROADCAST "192.168.0.255"
#define PREFIX 24
#define MAX_ADDRESSES 256

static struct mnl_socket *sock;
static char buffer[32768];
static unsigned int sequence;

struct old_address {
    struct in_addr local;
    unsigned char prefix;
};
static struct old_address olds[MAX_ADDRESSES];
static int old_count;
static unsigned int wanted_index;

/* A name the kernel could give an interface: 1 to 15 bytes, no slash, no
 * blank or control character. */
static int plausible_name(const char *name)
{
    size_t length = strlen(name);
    if (length == 0 || length >= IF_NAMESIZE || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return 0;
    for (const unsigned char *c = (const unsigned char *)name; *c; ++c) {
        if (*c <= ' ' || *c == '/' || *c == 0x7f)
            return 0;
    }
    return 1;
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

static int collect_address(const struct nlmsghdr *header, void *data)
{
    (void)data;
    const struct ifaddrmsg *message = mnl_nlmsg_get_payload(header);
    if (message->ifa_family != AF_INET || message->ifa_index != wanted_index || old_count == MAX_ADDRESSES)
        return MNL_CB_OK;
    const struct nlattr *attribute;
    mnl_attr_for_each(attribute, header, sizeof *message) {
        if (mnl_attr_get_type(attribute) == IFA_LOCAL && mnl_attr_get_payload_len(attribute) == 4) {
            memcpy(&olds[old_count].local, mnl_attr_get_payload(attribute), 4);
            olds[old_count++].prefix = message->ifa_prefixlen;
        }
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
    if (argc != 2 || !plausible_name(argv[1])) {
        fprintf(stderr, "usage: tcpserver-set-address INTERFACE\n");
        return 2;
    }
    wanted_index = if_nametoindex(argv[1]);
    if (wanted_index == 0) {
        fprintf(stderr, "tcpserver-set-address: no interface %s\n", argv[1]);
        return 2;
    }
    sock = mnl_socket_open(NETLINK_ROUTE);
    if (!sock || mnl_socket_bind(sock, 0, MNL_SOCKET_AUTOPID) < 0) {
        perror("tcpserver-set-address: netlink");
        return 1;
    }
    sequence = (unsigned int)time(NULL);

    /* Every IPv4 address goes, so that none can shadow the one it must carry. */
    if (exchange(request(RTM_GETADDR, NLM_F_DUMP, 0), collect_address) < 0)
        goto refused;
    for (int i = 0; i < old_count; ++i) {
        struct nlmsghdr *header = request(RTM_DELADDR, NLM_F_ACK, olds[i].prefix);
        mnl_attr_put(header, IFA_LOCAL, 4, &olds[i].local);
        if (exchange(header, NULL) < 0 && errno != EADDRNOTAVAIL)
            goto refused;
    }
    struct in_addr address, broadcast;
    inet_pton(AF_INET, ADDRESS, &address);
    inet_pton(AF_INET, BROADCAST, &broadcast);
    struct nlmsghdr *header = request(RTM_NEWADDR, NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE, PREFIX);
    mnl_attr_put(header, IFA_LOCAL, 4, &address);
    mnl_attr_put(header, IFA_ADDRESS, 4, &address);
    mnl_attr_put(header, IFA_BROADCAST, 4, &broadcast);
    if (exchange(header, NULL) < 0)
        goto refused;
    mnl_socket_close(sock);
    return 0;

refused:
    perror("tcpserver-set-address");
    mnl_socket_close(sock);
    return 1;
}
