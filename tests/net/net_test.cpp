// Both audio directions: the sockets, the sender filter, counters and the rate-limited lines
// about dropped datagrams.
#include "board/audio_dev.h"
#include "board/fpga.h"
#include "hw/hw.h"
#include "codec/g711.h"
#include "config/env.h"
#include "net/counters.h"
#include "net/rx_path.h"
#include "net/tx_path.h"
#include "sim/devices.h"
#include "sim/sim.h"
#include "support/board_dir.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <netdb.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in addr(const char* address, unsigned short port) {
    return sockaddr_in{AF_INET, htons(port), {inet_addr(address)}, {}};
}

sockaddr_in local_of(int s) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    return a;
}

// A UDP socket bound to a loopback address and any port.
int udp_on(const char* address) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = addr(address, 0);
    EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return s;
}

void send_to(int s, unsigned short port, size_t size, uint8_t fill) {
    const std::string payload(size, static_cast<char>(fill));
    const sockaddr_in to = addr("127.0.0.1", port);
    ASSERT_EQ(sendto(s, payload.data(), size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(size));
}

int sockopt(int s, int level, int option) {
    int value = -1;
    socklen_t len = sizeof value;
    EXPECT_EQ(getsockopt(s, level, option, &value, &len), 0);
    return len == 1 ? value & 0xFF : value;
}

[[maybe_unused]] const bool tablesBuilt = (stdout_of(build_g711_tables), true);

class Net : public ::testing::Test {
  protected:
    void TearDown() override {
        for (int s : {link.sockfd, a, b})
            close(s); // -1 is refused harmlessly
        if (fd_audioDev >= 0)
            hw_close(fd_audioDev), fd_audioDev = -1; // stops the device's clock
    }
    std::string open_rx(const char* inDest, const char* inSrc) {
        close(link.sockfd);
        return stdout_of([&] { open_rx_socket(inDest, inSrc, "127.0.0.1", &link); });
    }
    std::string open_tx(const char* dest, const std::string& env, unsigned short port = 4956) {
        board.write("/usr/local/bin/env.d",
                    "#!/bin/sh\ncat \"$(dirname \"$0\")/../../../sim/env\"\n", 0755);
        board.write("/sim/env", env);
        env_init(1);
        close(link.sockfd);
        return stdout_of([&] { open_tx_socket(dest, "127.0.0.1", &link, port); });
    }

    board_dir board;
    udp_link link;
    rx_state state;
    int a = -1, b = -1; // test sockets
};

// On a clock the test steps, from 127.0.0.x: the first drop of each kind in full, then at
// most one summary a minute (written by a drop of the other kind too), and the first line
// again after a quiet minute.
TEST_F(Net, DropLinesAreRateLimitedPerKind) {
    link.src_filter.sin_addr.s_addr = inet_addr("127.0.0.2");
    const struct {
        int64_t atMs;
        int sender; // last octet; 0: the loop's idle pass, no datagram
        long length;
        const char* lines;
    } rows[] = {
        {0, 3, 776, "audio recevied from unknown device(127.0.0.3)!\n"},
        {1000, 2, 10, "audio datagram of 10 bytes dropped\n"},
        {30000, 2, 0, ""},
        {59999, 4, 776, ""},
        {60000, 4, 700, "audio from unknown devices: 2 more dropped, the last from 127.0.0.4\n"},
        {61000, 7, 776, "audio datagrams of wrong length: 1 more dropped, the last of 0 bytes\n"},
        {100000, 5, 776, ""},
        {120000, 0, 0, "audio from unknown devices: 2 more dropped, the last from 127.0.0.5\n"},
        {121000, 0, 0, ""},
        {180000, 6, 776, "audio recevied from unknown device(127.0.0.6)!\n"},
        {181000, 2, 2000, "audio datagram of 2000 bytes dropped\n"},
    };
    for (const auto& r : rows) {
        state.sender.sin_addr.s_addr = htonl(0x7F000000u + static_cast<unsigned>(r.sender));
        const std::string out = stdout_of([&] {
            if (r.sender == 0) {
                rx_drop_flush(state.senderLog, r.atMs * 1000);
                rx_drop_flush(state.lengthLog, r.atMs * 1000);
            } else {
                EXPECT_NE(rx_handle_datagram(link, state, r.length, r.atMs * 1000),
                          rx_step::played);
            }
        });
        EXPECT_EQ(out, r.lines) << "at " << r.atMs;
    }
    // The counters line: every count in its place.
    txCounters.captured = 4000000000ul, txCounters.sent = 3999999990ul;
    txCounters.sendFailures = 10, txCounters.readFailures = 11;
    state.writeFailures = 12;
    state.stream.lost = 13, state.stream.duplicated = 14, state.stream.reordered = 15;
    state.stream.jitterX16Us = 16 * 4567, state.stream.stops = 17;
    EXPECT_EQ(stdout_of([&] { log_counters(state); }),
              "counters: captured 4000000000 sent 3999999990 send_failures 10 received 9 "
              "played 0 dropped_sender 6 dropped_length 3 read_failures 11 write_failures 12 "
              "lost 13 duplicated 14 reordered 15 jitter_ms 4.6 stops 17\n");
}

// A burst larger than a default receive buffer holds: only whole packets from IN_SRC are
// played, and nothing of a dropped datagram reaches the frame played next.
TEST_F(Net, ReceiverPlaysWholePacketsFromTheAllowedSenderOnly) {
    EXPECT_EQ(open_rx("127.0.0.1", "127.0.0.2"),
              "Server-socket() sockfd is OK...\nRecv Ip=127.0.0.1:4956\n");
    EXPECT_EQ(local_of(link.sockfd).sin_addr.s_addr, htonl(INADDR_ANY));
    EXPECT_EQ(ntohs(local_of(link.sockfd).sin_port), 4956);
    EXPECT_EQ(rx_wait(link, 1), 0); // nothing waiting: the timeout ends the wait
    a = udp_on("127.0.0.2"), b = udp_on("127.0.0.3");
    send_to(a, 4956, ALAW_PACKET_SIZE, 0xAA);
    for (size_t size : {0, 4, 775, 777, 1544, 2000})
        send_to(a, 4956, size, 0x2A);
    for (int i = 0; i < 140; ++i)
        send_to(b, 4956, ALAW_PACKET_SIZE, 0x2A);
    send_to(a, 4956, ALAW_PACKET_SIZE, 0xAA);
    EXPECT_EQ(rx_wait(link, 60000), 1);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(rx_drain(link, state), 148u); }),
              "audio from 127.0.0.2 started\naudio datagram of 0 bytes dropped\n"
              "audio recevied from unknown device(127.0.0.3)!\n");
    EXPECT_EQ(rx_drain(link, state), 0u);
    EXPECT_EQ((std::vector{state.received, state.played, state.droppedLength, state.droppedSender}),
              (std::vector<unsigned long>{148, 2, 6, 140}));
    pcm_frame played{};
    for (size_t i = 0; i < FRAME_SAMPLES; ++i)
        played[PCM_SAMPLES_OFFSET + 2 * i] = 0x7E; // +32256
    played[0] = played[1] = played[2] = played[3] = played[1540] = played[1541] = 0xAA;
    EXPECT_EQ(state.frame, played);
    // Empty or zero IN_SRC: every sender is accepted.
    for (const char* inSrc : {"", "0.0.0.0"}) {
        open_rx("127.0.0.1", inSrc);
        // 4 MiB asked for (the kernel books twice that), past the system's cap when allowed.
        const int cap = std::stoi(read_file("/proc/sys/net/core/rmem_max"));
        EXPECT_EQ(sockopt(link.sockfd, SOL_SOCKET, SO_RCVBUF),
                  geteuid() == 0 ? 8 << 20 : 2 * std::min(4 << 20, cap));
        send_to(b, 4956, ALAW_PACKET_SIZE, 0xD5);
        EXPECT_EQ(rx_wait(link, 60000), 1);
        EXPECT_EQ(rx_receive_one(link, state), rx_step::played) << inSrc;
    }
}

// A frame the audio device refuses is still played as far as the loop goes (counted, and in
// the stream's statistics), and counted as a write failure.
TEST_F(Net, FramesTheDeviceRefusesAreCountedAsWriteFailures) {
    board.add_devices();
    board.configure("frame_us=50000\nplayback_log=play.log\n");
    stdout_of(map_fpga_banks);
    stdout_of([] { fd_audioDev = open_audio_device(); });
    ASSERT_GE(fd_audioDev, 0);
    const struct {
        bool refused;
        unsigned long played, writeFailures, framesInLog;
    } rows[] = {{false, 1, 0, 1}, {true, 2, 1, 1}, {true, 3, 2, 1}, {false, 4, 2, 2}};
    int64_t atUs = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.played);
        sim_audio_fail_writes(r.refused);
        stdout_of([&] { rx_handle_datagram(link, state, ALAW_PACKET_SIZE, atUs += 96000); });
        EXPECT_EQ(state.played, r.played);
        EXPECT_EQ(state.writeFailures, r.writeFailures);
        EXPECT_EQ(words(board.read("/sim/play.log")).size() / 4, r.framesInLog);
    }
    sim_audio_fail_writes(false);
    EXPECT_TRUE(state.stream.playing);
    EXPECT_EQ(state.stream.lastArrivalUs, 4 * 96000);
}

// With no descriptor left for a socket, either side ends the process with status 1. The soft
// limit comes back at exit, for a leak checker's reads of /proc after the exit handlers.
rlimit descriptorLimit;
void no_descriptors() {
    getrlimit(RLIMIT_NOFILE, &descriptorLimit);
    std::atexit([] { setrlimit(RLIMIT_NOFILE, &descriptorLimit); });
    const rlimit none{0, descriptorLimit.rlim_max};
    setrlimit(RLIMIT_NOFILE, &none);
}

TEST(NetDeathTest, NoSocketEndsTheProcessWithStatusOne) {
    udp_link link;
    EXPECT_EXIT((no_descriptors(), open_rx_socket("0.0.0.0", "", "", &link)),
                testing::ExitedWithCode(1), "Server-socket\\(\\) sockfd error lol!");
    EXPECT_EXIT((gethostbyname("127.0.0.1"), no_descriptors(), // the lookup ready
                 open_tx_socket("127.0.0.1", "", &link, 4956)),
                testing::ExitedWithCode(1), "Server-socket\\(\\) sockfd error lol!");
}

// Unicast: port 4956, never bound, the multicast TTL left alone, type of service from TOS as
// a hexadecimal low byte.
TEST_F(Net, TransmitSocketTakesItsOptionsFromTheEnvironment) {
    EXPECT_EQ(open_tx("192.168.1.20", ""),
              "udpServerIp=192.168.1.20\nServer-socket() sockfd is OK...\n"
              "multicast=192.168.1.20:4956,C0A80114,C0A80114\n");
    EXPECT_EQ(ntohs(link.addr.sin_port), 4956);
    EXPECT_EQ(link.addr.sin_addr.s_addr, inet_addr("192.168.1.20"));
    EXPECT_EQ(local_of(link.sockfd).sin_port, 0);
    EXPECT_EQ(sockopt(link.sockfd, IPPROTO_IP, IP_MULTICAST_TTL), 1);
    const std::pair<const char*, int> tos[] = {{"", 0},      {"10", 0x10},  {"0xB8", 0xB8},
                                               {"b8", 0xB8}, {"1FF", 0xFF}, {"zz", 0}};
    for (auto [text, value] : tos) {
        open_tx("127.0.0.1", std::string("TOS=") + text + "\n");
        EXPECT_EQ(sockopt(link.sockfd, IPPROTO_IP, IP_TOS), value) << text;
    }
}

// Multicast: port 49501, TTL from MULTICAST_TTL (qemu-user 7.2 refuses IP_MULTICAST_IF).
TEST_F(Net, MulticastTransmitSocketTakesItsTtlFromTheEnvironment) {
    in_addr iface{inet_addr("127.0.0.1")};
    b = socket(AF_INET, SOCK_DGRAM, 0);
    if (setsockopt(b, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) != 0)
        GTEST_SKIP() << "this platform refuses IP_MULTICAST_IF";
    const std::string log = open_tx("239.1.2.3", "MULTICAST_TTL=300\n");
    EXPECT_TRUE(contains(log, "multicast=239.1.2.3:49501,EF010203,EF010203\n")) << log;
    EXPECT_EQ(sockopt(link.sockfd, IPPROTO_IP, IP_MULTICAST_TTL), 44); // the low byte
}

// A frame that cannot be read is neither counted nor sent; one read counts as captured and as
// sent or failed, and a sent one is 776 bytes marked 02 xx 02 C1, the device's counter at 772.
TEST_F(Net, TransmitterSendsEachCapturedFrameAndCountsIt) {
    a = udp_on("127.0.0.1");
    open_tx("127.0.0.1", "", ntohs(local_of(a).sin_port));
    board.add_devices();
    board.configure("frame_us=2000\n");
    pcm_frame buffer{};
    uint16_t seq = 0x4321; // far from the device's own counter, which counts from 0
    stdout_of(map_fpga_banks);
    sim_fpga_set16(0x2708, 1); // the ring says a frame waits, but no device gives it
    sim_fpga_set16(0x270A, 0);
    const unsigned long captured = txCounters.captured.load(), sent = txCounters.sent.load(),
                        failed = txCounters.sendFailures.load(),
                        readFailed = txCounters.readFailures.load();
    EXPECT_EQ(tx_send_waiting(link, buffer, &seq), -1); // and not captured, as shown below
    EXPECT_EQ(txCounters.readFailures - readFailed, 1u);
    stdout_of([] { fd_audioDev = open_audio_device(); });
    ASSERT_GE(fd_audioDev, 0);
    // A device that refuses the read, with frames waiting: a read failure, nothing captured.
    sim_audio_fail_reads(true);
    ASSERT_TRUE(wait_for([] { return fpga_read8(fpga_addr(fpga_reg::pending)) != 0; }));
    EXPECT_EQ(tx_send_waiting(link, buffer, &seq), -1);
    sim_audio_fail_reads(false);
    EXPECT_EQ(txCounters.readFailures - readFailed, 2u);
    EXPECT_EQ(txCounters.captured - captured, 0u);
    // Frames through the given link until three went; a failed read (-1) ends it too.
    auto send_three = [&](const udp_link& l) {
        unsigned long frames = 0;
        for (int i = 0; i < 3000 && frames < 3; ++i, usleep(1000))
            frames += static_cast<unsigned long>(tx_send_waiting(l, buffer, &seq)); // -1: huge
        EXPECT_GE(frames, 3u);
        EXPECT_LT(frames, 100u); // no failed read (-1) among them
        return frames;
    };
    udp_link refused = link;
    refused.sockfd = -1; // every send fails
    const unsigned long nFailed = send_three(refused), nSent = send_three(link);
    EXPECT_EQ((std::vector{txCounters.captured - captured, txCounters.sent - sent,
                           txCounters.sendFailures - failed}),
              (std::vector{nFailed + nSent, nSent, nFailed}));
    // The thread's own count of frames read, kept in the buffer beside the packet.
    EXPECT_EQ(seq, 0x4321 + nFailed + nSent);
    EXPECT_EQ((buffer[1540] << 8) | buffer[1541], seq - 1);
    for (unsigned long d = 0, last = 0; d < nSent; ++d) {
        uint8_t got[2000] = {};
        EXPECT_EQ(recv(a, got, sizeof got, MSG_DONTWAIT | MSG_TRUNC), 776);
        EXPECT_EQ(std::string(got, got + 4),
                  std::string({2, static_cast<char>(got[1]), 2, '\xC1'}));
        const unsigned long counter = (got[772] << 8) | got[773]; // the device's first frames
        EXPECT_LT(counter, 256u);
        if (d > 0) {
            EXPECT_GT(counter, last); // in the order captured
        }
        last = counter;
    }
}

} // namespace
