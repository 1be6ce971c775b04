// Address rules shared by both directions.
#pragma once

#include "net/udp_link.h"

#include <arpa/inet.h>
#include <array>
#include <bit>
#include <cstdint>

// A destination whose first octet is 224 or above (224.0.0.0/3, the top three bits set) is
// treated as multicast, and uses the multicast port.
constexpr bool is_multicast_addr(in_addr_t networkOrder) {
    // The first octet is the first byte in memory, whatever the host's byte order.
    const auto octets = std::bit_cast<std::array<uint8_t, 4>>(networkOrder);
    return (octets[0] & 0xE0) == 0xE0;
}

constexpr unsigned short port_for(in_addr_t networkOrder, unsigned short unicastPort) {
    return is_multicast_addr(networkOrder) ? UDP_MULTICAST_PORT : unicastPort;
}
