// The receive side's multicast membership, and its renewal while nothing arrives.
//
// A switch that snoops IGMP forwards a group only to ports that reported a membership, and
// forgets a port when no report came for its membership interval (260 s by default). Without
// an IGMP querier on the network nothing asks the host to report again, and the group's audio
// stops for good a few minutes after start-up. So, while the stream is stopped, the bridge
// leaves and joins the group again (IP_DROP_MEMBERSHIP, IP_ADD_MEMBERSHIP on OUT_SRC's
// interface), which makes the kernel send a fresh membership report: at once when the stream
// stops, then every MCAST_REJOIN_US while it stays stopped; likewise every MCAST_REJOIN_US
// while nothing has been played since start-up, since the switch may forget the group before
// the peer ever sends. Lines, each at most once a minute (log/line_limit.h), later ones summed:
//
//   multicast: %s re-joined on %s                 the first re-join of a stop
//   multicast: %s re-joined on %s, nothing played yet    the first while nothing was played
//   multicast: %s re-joined on %s N more time(s)   the summary
//   multicast: can't re-join %s on %s (%s)         a failed join; the bridge runs on
//   multicast: %s failed to re-join on %s N more time(s) (%s)
#pragma once

#include "log/line_limit.h"
#include "net/stream_stats.h"

#include <cstdint>
#include <netinet/in.h>

inline constexpr int64_t MCAST_REJOIN_US = 10000000;

struct mcast_group {
    int sockfd = -1;
    in_addr_t group = 0;    // IN_DEST when it is a group; 0: unicast, nothing to renew
    in_addr_t iface = 0;    // OUT_SRC, the interface the group is joined on
    bool scheduled = false; // nextUs holds the next re-join
    int64_t nextUs = 0;
    bool reported = false; // the line of this stop (or of the start-up) is written
    line_limit joins{};
    line_limit failures{};
    int lastError = 0; // of the last failed join
};

// The receive socket's group, filled by open_rx_socket; only the receive loop uses it after.
extern mcast_group rxGroup;

// Notes the group joined (or tried) on the receive socket.
void mcast_group_set(mcast_group& g, int sockfd, in_addr_t group, in_addr_t iface);

// Called on every wake-up of the receive loop and after every dropped datagram (rx_tick), with
// the stream and the event just seen: re-joins when due and writes the lines. Nothing for a
// unicast IN_DEST.
void mcast_tick(mcast_group& g, const stream_stats& s, stream_event event, int64_t nowUs);

// Leaves and joins the group once. Result: 0, or the errno of the failed join.
int mcast_rejoin(const mcast_group& g);
