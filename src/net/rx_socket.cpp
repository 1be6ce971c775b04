// open_rx_socket: the socket bound to the receive port on every local address.
#include "net/rx_path.h"

#include "log/log.h"
#include "net/addr_rules.h"
#include "net/mcast_rejoin.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>

namespace {

// Receives the group's traffic on the interface with the given address, and nothing of
// groups that other sockets on the host have joined.
void join_group(int sockfd, in_addr_t group, const char* groupText, const char* ifaceText) {
#ifdef IP_MULTICAST_ALL
    int all = 0;
    if (setsockopt(sockfd, IPPROTO_IP, IP_MULTICAST_ALL, &all, sizeof all) != 0)
        log_printf("multicast: other groups cannot be shut out (%s)\n", std::strerror(errno));
#endif
    ip_mreq request{};
    request.imr_multiaddr.s_addr = group;
    request.imr_interface.s_addr = inet_addr(ifaceText);
    if (setsockopt(sockfd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0)
        log_printf("multicast: can't join %s on %s (%s)\n", groupText, ifaceText,
                   std::strerror(errno));
    // Renewed by the receive loop while nothing arrives, a failed join included.
    mcast_group_set(rxGroup, sockfd, group, request.imr_interface.s_addr);
}

} // namespace

int rx_request_buffer(int sockfd) {
    int wanted = RX_BUFFER_BYTES;
    if (setsockopt(sockfd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
        (void)setsockopt(sockfd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    int granted = -1;
    socklen_t len = sizeof granted;
    if (getsockopt(sockfd, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0)
        return -1;
    return granted;
}

void open_rx_socket(const char* inDestText, const char* inSrcText, const char* ifaceText,
                    udp_link* link) {
    int sockfd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sockfd == -1) {
        perror("Server-socket() sockfd error lol!");
        std::exit(1);
    }
    log_printf("Server-socket() sockfd is OK...\n");
    // Sized before the first datagram can arrive; a smaller buffer only risks a burst.
    (void)rx_request_buffer(sockfd);

    const in_addr_t inDest = inet_addr(inDestText);
    const unsigned short port = port_for(inDest, UDP_UNICAST_PORT);
    log_printf("Recv Ip=%s:%d\n", inDestText, port);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(sockfd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == -1) {
        perror("Server-bind() error lol!");
        std::exit(1);
    }
    if (is_multicast_addr(inDest))
        join_group(sockfd, inDest, inDestText, ifaceText);

    link->addr = sockaddr_in{};
    link->addr.sin_family = AF_INET;
    link->addr.sin_port = htons(port);
    link->addr.sin_addr.s_addr = inDest;
    link->sockfd = sockfd;
    link->src_filter = sockaddr_in{};
    link->src_filter.sin_family = AF_INET;
    link->src_filter.sin_addr.s_addr =
        (inSrcText != nullptr && inSrcText[0] != '\0') ? inet_addr(inSrcText) : 0;
}
