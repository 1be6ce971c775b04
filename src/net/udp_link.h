// One UDP direction of the bridge: its socket, its address and, for receiving, its sender.
#pragma once

#include <netinet/in.h>

struct udp_link {
    int sockfd = -1;
    sockaddr_in addr{};       // transmit: destination; receive: IN_DEST with the receive port
    sockaddr_in src_filter{}; // receive only: the one accepted sender, address 0 for any
};

inline constexpr unsigned short UDP_UNICAST_PORT = 4956;
inline constexpr unsigned short UDP_MULTICAST_PORT = 49501;
