// The statistics of the played stream on synthetic arrivals: losses, duplicates, late frames,
// the wrap of the counter, a tail that does not count, jitter, stops and the lines about them,
// and the multicast group renewed while the stream is stopped.
#include "net/mcast_rejoin.h"
#include "net/rx_path.h"
#include "net/stream_log.h"
#include "net/stream_stats.h"
#include "support/board_dir.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/socket.h>
#include <vector>

namespace {

constexpr int64_t MS = 1000; // microseconds

struct arrival {
    uint16_t counter;
    int64_t atUs;
};

// Counters that arrive when the sender's clock sent them, 96 ms apart, the first at 0.
std::vector<arrival> on_time(std::initializer_list<int> counters) {
    std::vector<arrival> out;
    const int first = *counters.begin();
    for (int c : counters)
        out.push_back({static_cast<uint16_t>(c), ((c - first) & 0xFFFF) * STREAM_FRAME_US});
    return out;
}

// Counters that arrive one after the other, 96 ms apart.
std::vector<arrival> in_turn(std::initializer_list<int> counters) {
    std::vector<arrival> out;
    for (int c : counters)
        out.push_back(
            {static_cast<uint16_t>(c), static_cast<int64_t>(out.size()) * STREAM_FRAME_US});
    return out;
}

// The same tail in every datagram, at the given frame periods.
std::vector<arrival> fixed_tail(uint16_t tail, std::initializer_list<int> periods) {
    std::vector<arrival> out;
    for (int p : periods)
        out.push_back({tail, p * STREAM_FRAME_US});
    return out;
}

// A tail of noise (a linear congruential sequence), frames 0..19 without 4, 12 and 13.
std::vector<arrival> noisy_tail() {
    std::vector<arrival> out;
    uint32_t x = 12345;
    for (int p = 0; p < 20; ++p) {
        x = x * 1103515245u + 12345u;
        if (p != 4 && p != 12 && p != 13)
            out.push_back({static_cast<uint16_t>(x >> 16), p * STREAM_FRAME_US});
    }
    return out;
}

std::vector<arrival> operator+(std::vector<arrival> a, const std::vector<arrival>& b) {
    const int64_t after = a.empty() ? 0 : a.back().atUs + STREAM_FRAME_US;
    for (arrival x : b)
        a.push_back({x.counter, after + x.atUs});
    return a;
}

const in_addr_t PEER = inet_addr("127.0.0.2");

stream_stats fed(const std::vector<arrival>& stream) {
    stream_stats s;
    for (arrival a : stream)
        stream_note(s, a.counter, a.atUs, PEER);
    return s;
}

TEST(StreamStats, LossesDuplicatesAndLateFramesAreToldApart) {
    const struct {
        const char* name;
        std::vector<arrival> stream;
        unsigned long lost, duplicated, reordered;
        bool counting;
    } rows[] = {
        {"in order", on_time({100, 101, 102, 103, 104, 105, 106}), 0, 0, 0, true},
        {"three gaps, one of two frames", on_time({100, 101, 102, 103, 105, 106, 109, 110}), 3, 0,
         0, true},
        {"a loss across the wrap", on_time({65532, 65533, 65534, 65535, 1, 2, 3}), 1, 0, 0, true},
        {"the wrap without a loss", on_time({65533, 65534, 65535, 0, 1, 2}), 0, 0, 0, true},
        {"sent twice, at once and late", in_turn({100, 101, 102, 103, 104, 104, 105, 103, 106}), 0,
         2, 0, true},
        {"a swapped pair", in_turn({100, 101, 102, 103, 104, 106, 105, 107}), 0, 0, 1, true},
        {"late across the wrap", in_turn({65533, 65534, 65535, 0, 2, 1, 3}), 0, 0, 1, true},
        {"late, and one lost after it", in_turn({100, 101, 102, 103, 104, 107, 105, 108}), 1, 0, 1,
         true},
        {"late from before the reference: no loss to take back",
         in_turn({100, 101, 102, 103, 98, 104}), 0, 0, 1, true},
        {"a jump far ahead takes a new reference", in_turn({100, 101, 102, 103, 30000, 30001}), 0,
         0, 0, true},
        {"a jump back (the sender restarted)", in_turn({5000, 5001, 5002, 5003, 0, 1, 3}), 1, 0, 0,
         true},
        {"a constant tail: losses by time", fixed_tail(0, {0, 1, 2, 3, 5, 6, 9, 10}), 3, 0, 0,
         false},
        {"a tail of noise: losses by time", noisy_tail(), 3, 0, 0, false},
        {"counting, then a constant tail",
         on_time({100, 101, 102, 103, 104}) + fixed_tail(7, {0, 1, 2, 3, 4, 5, 6, 8}), 1, 0, 0,
         false},
        {"a constant tail, then counting", fixed_tail(7, {0, 1, 2}) + on_time({7, 8, 9, 10, 12}), 1,
         0, 0, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const stream_stats s = fed(r.stream);
        EXPECT_EQ(s.lost, r.lost);
        EXPECT_EQ(s.duplicated, r.duplicated);
        EXPECT_EQ(s.reordered, r.reordered);
        EXPECT_EQ(s.counting, r.counting);
        EXPECT_EQ(s.stops, 0u);
    }
}

// RFC 3550, appendix A.8: J += |D| - ((J + 8) >> 4), J scaled by 16, D in microseconds here.
TEST(StreamStats, JitterIsTheRfc3550EstimateOverArrivalAndSenderSpacing) {
    const struct {
        const char* name;
        std::vector<arrival> stream;
        int64_t jitterX16;
        double jitterMs;
    } rows[] = {
        // Time mode, each datagram one period after the last: D = +4, -6, +4 ms;
        // 16J = 4000; 4000 + 6000 - 250 = 9750; 9750 + 4000 - 609 = 13141.
        {"time mode", {{0, 0}, {0, 100 * MS}, {0, 190 * MS}, {0, 290 * MS}}, 13141, 0.8},
        // Counting from 13 on: 15 comes 102 ms after 13 for 192 ms of counters, D = -90 ms;
        // 14 comes 1 ms later for -96 ms, D = 97 ms. 16J = 90000; 90000 + 97000 - 5625.
        {"counter mode, a swap",
         {{10, 0}, {11, 96 * MS}, {12, 192 * MS}, {13, 288 * MS}, {15, 390 * MS}, {14, 391 * MS}},
         181375,
         11.3},
        // A lost frame is a loss, not jitter, in either mode: 200 ms is two periods.
        {"time mode, a lost frame", {{0, 0}, {0, 96 * MS}, {0, 296 * MS}}, 8000 - 0, 0.5},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const stream_stats s = fed(r.stream);
        EXPECT_EQ(s.jitterX16Us, r.jitterX16);
        EXPECT_NEAR(stream_jitter_ms(s), r.jitterMs, 0.05);
    }
}

TEST(StreamStats, ASilenceStopsTheStreamAndTheNextDatagramIsAFreshReference) {
    stream_stats s;
    const auto before = on_time({100, 101, 102, 103, 104, 106});
    EXPECT_EQ(stream_note(s, before[0].counter, before[0].atUs, PEER), stream_event::started);
    for (size_t i = 1; i < before.size(); ++i)
        EXPECT_EQ(stream_note(s, before[i].counter, before[i].atUs, PEER), stream_event::none);
    const int64_t last = before.back().atUs;
    EXPECT_EQ(stream_tick(s, last + STREAM_STOP_US - 1), stream_event::none);
    EXPECT_TRUE(s.playing);
    EXPECT_EQ(stream_tick(s, last + STREAM_STOP_US), stream_event::stopped);
    EXPECT_FALSE(s.playing);
    EXPECT_EQ(stream_tick(s, last + 2 * STREAM_STOP_US), stream_event::none);
    EXPECT_EQ(s.stops, 1u);
    const int64_t jitter = s.jitterX16Us;
    // 3.5 s later, 40 counters on, 30 ms off the sender's clock: no loss, no jitter.
    EXPECT_EQ(stream_note(s, 146, last + 3500 * MS, PEER), stream_event::resumed);
    EXPECT_EQ(s.silenceUs, 3500 * MS);
    EXPECT_EQ(s.lost, 1u); // the one before the stop
    EXPECT_EQ(s.jitterX16Us, jitter);
    EXPECT_EQ(stream_note(s, 147, last + 3596 * MS, PEER), stream_event::none);
    EXPECT_EQ(stream_note(s, 149, last + 3788 * MS, PEER), stream_event::none);
    EXPECT_EQ(s.lost, 2u);
    // A stop and a counter that went back (the peer restarted): no loss either.
    EXPECT_EQ(stream_tick(s, last + 5000 * MS), stream_event::stopped);
    EXPECT_EQ(stream_note(s, 2, last + 6000 * MS, PEER), stream_event::resumed);
    EXPECT_EQ(stream_note(s, 3, last + 6096 * MS, PEER), stream_event::none);
    EXPECT_EQ(s.lost, 2u);
    EXPECT_EQ(s.stops, 2u);
    EXPECT_EQ(s.duplicated, 0u);
    EXPECT_EQ(s.reordered, 0u);
}

// The loop's lines, on a clock the test steps: one stop and one resume line a minute, the
// rest summed up with the state the stream is in, the first lines again after a quiet minute.
TEST(StreamLines, StopAndResumeLinesAreRateLimited) {
    udp_link link;
    link.src_filter.sin_addr.s_addr = PEER;
    rx_state state;
    state.sender.sin_addr.s_addr = PEER;
    uint16_t counter = 500;
    const struct {
        int64_t atMs;
        bool datagram; // false: a wake-up of the loop
        const char* lines;
    } rows[] = {
        {0, true, "audio from 127.0.0.2 started\n"},
        {96, true, ""},
        {1095, false, ""},
        {1096, false, "audio from 127.0.0.2 stopped\n"},
        {3340, true, "audio from 127.0.0.2 resumed after 3.2 s\n"},
        {4340, false, ""}, // stopped again: held
        {5000, true, ""},  // resumed: held
        {6000, false, ""},
        {61000, true, ""},
        {61095, false, ""},
        {61096, false, "audio from 127.0.0.2 stopped 2 more times, now playing\n"},
        {63339, false, ""},
        {63340, false, "audio from 127.0.0.2 resumed 2 more times, now stopped\n"},
        {121095, false, ""},
        {121096, false, "audio from 127.0.0.2 stopped 1 more time, now stopped\n"},
        {190000, true, "audio from 127.0.0.2 resumed after 129.0 s\n"}, // after a quiet minute
        {191000, false, "audio from 127.0.0.2 stopped\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.atMs);
        const std::string lines = stdout_of([&] {
            if (!r.datagram) {
                rx_tick(state, r.atMs * MS);
                return;
            }
            state.frame[ALAW_TAIL_OFFSET] = static_cast<uint8_t>(counter >> 8);
            state.frame[ALAW_TAIL_OFFSET + 1] = static_cast<uint8_t>(counter++);
            EXPECT_EQ(rx_handle_datagram(link, state, ALAW_PACKET_SIZE, r.atMs * MS),
                      rx_step::played);
        });
        EXPECT_EQ(lines, r.lines);
    }
    EXPECT_EQ(state.stream.stops, 5u);
    EXPECT_EQ(state.stream.lost, 0u); // every resume a fresh reference
}

// The receive socket's membership renewed on a clock the test steps, on the loopback
// interface: at once when the stream stops and every 10 s while it stays stopped, every 10 s
// while nothing was played since start-up; lines rate-limited like the stop lines.
class McastRejoin : public ::testing::Test {
  protected:
    void SetUp() override {
        sockfd = socket(AF_INET, SOCK_DGRAM, 0);
        // A group of this process's own, so that tests running beside it do not meet.
        group = htonl(0xEF120000u | static_cast<uint32_t>(getpid() & 0xFFFF));
        mcast_group_set(g, sockfd, group, inet_addr("127.0.0.1"));
    }
    void TearDown() override { close(sockfd); }

    // Sockets joined to the group on the loopback interface, as the kernel counts them. The
    // kernel writes the address as a number of its own byte order, which under an emulator
    // differs from the program's.
    int members() const {
        std::ifstream igmp("/proc/net/igmp");
        char asIs[9], swapped[9];
        std::snprintf(asIs, sizeof asIs, "%08X", static_cast<unsigned>(group));
        std::snprintf(swapped, sizeof swapped, "%08X", __builtin_bswap32(group));
        std::string line;
        bool loopback = false;
        while (std::getline(igmp, line)) {
            if (!line.empty() && line[0] != '\t')
                loopback = contains(line, "lo ");
            else if (loopback && (contains(line, asIs) || contains(line, swapped)))
                return std::stoi(words(line)[1]);
        }
        return 0;
    }
    void leave() const {
        const ip_mreq request{{group}, {inet_addr("127.0.0.1")}};
        ASSERT_EQ(setsockopt(sockfd, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request), 0);
    }
    std::string tick(const stream_stats& s, stream_event e, int64_t atMs) {
        return stdout_of([&] { mcast_tick(g, s, e, atMs * MS); });
    }

    int sockfd = -1;
    in_addr_t group = 0;
    mcast_group g;
};

TEST_F(McastRejoin, TheGroupIsJoinedAgainWhileTheStreamIsStopped) {
    if (mcast_rejoin(g) != 0)
        GTEST_SKIP() << "this platform cannot join a group on the loopback interface";
    ASSERT_EQ(members(), 1);
    leave();
    ASSERT_EQ(members(), 0); // left: only a re-join brings it back
    char text[INET_ADDRSTRLEN];
    const std::string name = inet_ntop(AF_INET, &group, text, sizeof text);
    const std::string joined = "multicast: " + name + " re-joined on 127.0.0.1";

    stream_stats s; // nothing played since start-up: every 10 s, one line
    EXPECT_EQ(tick(s, stream_event::none, 0), "");
    EXPECT_EQ(tick(s, stream_event::none, 9999), "");
    EXPECT_EQ(members(), 0);
    EXPECT_EQ(tick(s, stream_event::none, 10000), joined + ", nothing played yet\n");
    EXPECT_EQ(members(), 1);
    leave();
    EXPECT_EQ(tick(s, stream_event::none, 20000), "");
    EXPECT_EQ(members(), 1);

    stream_note(s, 1, 65000 * MS, PEER); // playing: nothing is renewed
    leave();
    EXPECT_EQ(tick(s, stream_event::none, 80000), "");
    EXPECT_EQ(members(), 0);
    ASSERT_EQ(stream_tick(s, 81000 * MS), stream_event::stopped);
    EXPECT_EQ(tick(s, stream_event::stopped, 81000), joined + "\n"); // at once
    EXPECT_EQ(members(), 1);
    leave();
    EXPECT_EQ(tick(s, stream_event::none, 90999), "");
    EXPECT_EQ(members(), 0);
    EXPECT_EQ(tick(s, stream_event::none, 91000), ""); // every 10 s, one line a stop
    EXPECT_EQ(members(), 1);

    // A flapping stream: the next stops' lines are held and summed up a minute after.
    for (int64_t at : {92000, 94000}) {
        stream_note(s, 2, at * MS, PEER);
        ASSERT_EQ(stream_tick(s, (at + 1000) * MS), stream_event::stopped);
        EXPECT_EQ(tick(s, stream_event::stopped, at + 1000), "");
    }
    EXPECT_EQ(tick(s, stream_event::none, 140999), "");
    EXPECT_EQ(tick(s, stream_event::none, 141000), joined + " 2 more times\n");

    // A join that fails (no socket): logged, rate-limited, and the bridge goes on.
    const int open = g.sockfd;
    g.sockfd = -1;
    const std::string failed = "multicast: can't re-join " + name + " on 127.0.0.1 (";
    EXPECT_EQ(tick(s, stream_event::none, 151000), failed + std::strerror(EBADF) + ")\n");
    EXPECT_EQ(tick(s, stream_event::none, 161000), "");
    EXPECT_EQ(tick(s, stream_event::none, 211000), "multicast: " + name +
                                                       " failed to re-join on 127.0.0.1 1 more "
                                                       "time (" +
                                                       std::strerror(EBADF) + ")\n");
    g.sockfd = open;
}

TEST_F(McastRejoin, AUnicastReceiverHasNoGroupToRenew) {
    mcast_group unicast;
    stream_stats s;
    ASSERT_EQ(stream_tick(s, 0), stream_event::none);
    EXPECT_EQ(stdout_of([&] {
                  mcast_tick(unicast, s, stream_event::stopped, 0);
                  mcast_tick(unicast, s, stream_event::none, 60000 * MS);
              }),
              "");
}

} // namespace
