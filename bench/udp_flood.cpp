// udp_flood: sends UDP datagrams at a fixed rate, for measuring a receiver under a flood.
//
//   udp_flood DEST PORT RATE SECONDS SIZES
//
// RATE datagrams a second for SECONDS, to DEST:PORT, their sizes taken in turn from SIZES
// (a comma list of byte counts, 0..65507). Every 1 ms tick sends what the rate owes by then
// with sendmmsg, so a tick missed on a loaded machine is made up at the next one. The payload
// looks like an audio packet: 02 00 02 C1 and then 0xD5 (A-law silence). On exit it prints
// "sent N failed M".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t MAX_PAYLOAD = 65507;
constexpr int MAX_SIZES = 16;
constexpr unsigned BATCH = 64;
constexpr long TICK_NS = 1000000;

std::array<unsigned char, MAX_PAYLOAD> payload;

struct flood_plan {
    sockaddr_in dest;
    long rate;
    long seconds;
    size_t sizes[MAX_SIZES];
    int sizeCount;
};

int parse_sizes(const char* text, flood_plan& plan) {
    plan.sizeCount = 0;
    const char* p = text;
    while (*p != '\0' && plan.sizeCount < MAX_SIZES) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p || n < 0 || n > static_cast<long>(MAX_PAYLOAD))
            return 0;
        plan.sizes[plan.sizeCount++] = static_cast<size_t>(n);
        p = (*end == ',') ? end + 1 : end;
        if (*end != ',' && *end != '\0')
            return 0;
    }
    return plan.sizeCount > 0 && *p == '\0';
}

int parse_args(int argc, char** argv, flood_plan& plan) {
    if (argc != 6)
        return 0;
    plan.dest = sockaddr_in{};
    plan.dest.sin_family = AF_INET;
    plan.dest.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &plan.dest.sin_addr) != 1)
        return 0;
    plan.rate = std::atol(argv[3]);
    plan.seconds = std::atol(argv[4]);
    return plan.rate > 0 && plan.seconds > 0 && parse_sizes(argv[5], plan);
}

long long ns_between(const timespec& a, const timespec& b) {
    return (b.tv_sec - a.tv_sec) * 1000000000LL + (b.tv_nsec - a.tv_nsec);
}

void advance(timespec& t, long ns) {
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
}

} // namespace

int main(int argc, char** argv) {
    flood_plan plan{};
    if (parse_args(argc, argv, plan) == 0) {
        std::fprintf(stderr, "usage: udp_flood DEST PORT RATE SECONDS SIZE[,SIZE...]\n");
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd == -1) {
        std::perror("udp_flood: socket");
        return 1;
    }
    const int sndbuf = 4 << 20;
    (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &sndbuf, sizeof sndbuf);
    payload.fill(0xD5);
    const unsigned char head[4] = {0x02, 0x00, 0x02, 0xC1};
    std::memcpy(payload.data(), head, sizeof head);

    mmsghdr msgs[BATCH];
    iovec iovs[BATCH];
    const long long total = static_cast<long long>(plan.rate) * plan.seconds;
    long long sent = 0;
    long long failed = 0;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    timespec tick = start;
    while (sent + failed < total) {
        advance(tick, TICK_NS);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long owed = ns_between(start, now) * plan.rate / 1000000000LL;
        if (owed > total)
            owed = total;
        while (sent + failed < owed) {
            const unsigned n =
                static_cast<unsigned>(owed - sent - failed < BATCH ? owed - sent - failed : BATCH);
            for (unsigned i = 0; i < n; ++i) {
                iovs[i].iov_base = payload.data();
                iovs[i].iov_len = plan.sizes[(sent + failed + i) % plan.sizeCount];
                msgs[i] = mmsghdr{};
                msgs[i].msg_hdr.msg_name = &plan.dest;
                msgs[i].msg_hdr.msg_namelen = sizeof plan.dest;
                msgs[i].msg_hdr.msg_iov = &iovs[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
            }
            const int done = sendmmsg(fd, msgs, n, 0);
            if (done > 0)
                sent += done;
            else
                ++failed; // the datagram at the head of the batch is given up
        }
    }
    std::printf("sent %lld failed %lld\n", sent, failed);
    return 0;
}
