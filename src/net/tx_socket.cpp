// open_tx_socket: the unbound UDP socket that sends every captured frame to OUT_DEST.
#include "net/tx_path.h"

#include "board/audio_dev.h"
#include "config/env.h"
#include "log/log.h"
#include "net/addr_rules.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

void open_tx_socket(const char* destText, const char* ifaceText, udp_link* link,
                    unsigned short unicastPort) {
    unsigned char ttl = 1;
    unsigned char tos = 0;
    log_printf("udpServerIp=%s\n", destText);

    // The name must resolve; the address itself is always taken from the dotted text. The
    // resolver reports through h_errno: errno holds nothing of its own then.
    if (gethostbyname(destText) == nullptr) {
        std::fprintf(stderr, "get peer hostbyname() error lol!: %s\n", hstrerror(h_errno));
        std::exit(1);
    }
    int sockfd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sockfd == -1) {
        perror("Server-socket() sockfd error lol!");
        std::exit(1);
    }
    log_printf("Server-socket() sockfd is OK...\n");

    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(unicastPort);

    char value[TX_ENV_VALUE_SIZE] = {};
    if (env_get("TOS", value, sizeof value) == 1)
        tos = static_cast<unsigned char>(std::strtol(value, nullptr, 16) & 0xFF);
    if (setsockopt(sockfd, IPPROTO_IP, IP_TOS, &tos, 1) != 0) {
        log_printf("setsockopt IP_TOS");
        close(sockfd);
        std::exit(1);
    }

    dest.sin_addr.s_addr = inet_addr(destText);
    if (is_multicast_addr(dest.sin_addr.s_addr)) {
        in_addr iface{};
        iface.s_addr = inet_addr(ifaceText);
        dest.sin_port = htons(UDP_MULTICAST_PORT);
        std::memset(value, 0, sizeof value);
        if (env_get("MULTICAST_TTL", value, sizeof value) == 1)
            ttl = static_cast<unsigned char>(std::atoi(value) & 0xFF);
        (void)setsockopt(sockfd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, 1);
        if (setsockopt(sockfd, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) < 0) {
            perror("setsockopt error...!\r\n");
            std::exit(1);
        }
    }
    const unsigned long hostOrder = ntohl(dest.sin_addr.s_addr);
    log_printf("multicast=%s:%d,%lX,%lX\n", destText, ntohs(dest.sin_port), hostOrder, hostOrder);

    audio_control(audio_request::control_b);
    link->addr = dest;
    link->sockfd = sockfd;
    audio_control(audio_request::control_b);
}
