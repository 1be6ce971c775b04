// mcast_tick, mcast_rejoin: the group joined again while the stream is stopped.
#include "net/mcast_rejoin.h"

#include "log/log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

mcast_group rxGroup;

namespace {

// inet_ntoa has one buffer: each address goes into a buffer of its own.
struct addr_text {
    char text[INET_ADDRSTRLEN] = {};
};

addr_text text_of(in_addr_t address) {
    addr_text t;
    in_addr a{};
    a.s_addr = address;
    (void)inet_ntop(AF_INET, &a, t.text, sizeof t.text);
    return t;
}

void write_joined(mcast_group& g, bool nothingPlayed, int64_t nowUs) {
    if (g.reported)
        return;
    g.reported = true;
    if (line_limit_note(g.joins, nowUs) != 1)
        return;
    const addr_text group = text_of(g.group), iface = text_of(g.iface);
    log_printf(nothingPlayed ? "multicast: %s re-joined on %s, nothing played yet\n"
                             : "multicast: %s re-joined on %s\n",
               group.text, iface.text);
}

void write_failed(mcast_group& g, int error, int64_t nowUs) {
    g.lastError = error;
    if (line_limit_note(g.failures, nowUs) != 1)
        return;
    const addr_text group = text_of(g.group), iface = text_of(g.iface);
    log_printf("multicast: can't re-join %s on %s (%s)\n", group.text, iface.text,
               std::strerror(error));
}

void write_summaries(mcast_group& g, int64_t nowUs) {
    const unsigned long joins = line_limit_take(g.joins, nowUs);
    const unsigned long failures = line_limit_take(g.failures, nowUs);
    if (joins == 0 && failures == 0)
        return;
    const addr_text group = text_of(g.group), iface = text_of(g.iface);
    if (joins != 0)
        log_printf("multicast: %s re-joined on %s %lu more time%s\n", group.text, iface.text, joins,
                   line_limit_plural(joins));
    if (failures != 0)
        log_printf("multicast: %s failed to re-join on %s %lu more time%s (%s)\n", group.text,
                   iface.text, failures, line_limit_plural(failures), std::strerror(g.lastError));
}

} // namespace

void mcast_group_set(mcast_group& g, int sockfd, in_addr_t group, in_addr_t iface) {
    g = mcast_group{};
    g.sockfd = sockfd;
    g.group = group;
    g.iface = iface;
}

int mcast_rejoin(const mcast_group& g) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = g.group;
    request.imr_interface.s_addr = g.iface;
    // Not a member (an earlier join failed) is no reason not to join.
    (void)setsockopt(g.sockfd, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request);
    if (setsockopt(g.sockfd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0)
        return errno;
    return 0;
}

void mcast_tick(mcast_group& g, const stream_stats& s, stream_event event, int64_t nowUs) {
    if (g.group == 0)
        return;
    write_summaries(g, nowUs);
    if (s.playing) {
        g.scheduled = false;
        return;
    }
    if (event == stream_event::stopped) {
        g.reported = false;
        g.scheduled = true;
        g.nextUs = nowUs; // at once
    } else if (!g.scheduled) {
        // Nothing played since start-up: the first renewal one period after the start.
        g.scheduled = true;
        g.nextUs = nowUs + MCAST_REJOIN_US;
    }
    if (nowUs < g.nextUs)
        return;
    g.nextUs = nowUs + MCAST_REJOIN_US;
    if (const int error = mcast_rejoin(g); error != 0)
        write_failed(g, error, nowUs);
    else
        write_joined(g, !s.everPlayed, nowUs);
}
