// The transmit path: address rules, socket options from the environment, and the datagrams.
#include "net/tx_path.h"

#include "board/audio_dev.h"
#include "board/fpga.h"
#include "board/hw.h"
#include "codec/g711.h"
#include "config/env.h"
#include "net/addr_rules.h"
#include "net/counters.h"
#include "sim/sim.h"
#include "support/board_dir.h"

#include <arpa/inet.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

static_assert(!is_multicast_addr(0));

TEST(AddressRules, FirstOctet224OrAboveIsMulticast) {
    for (const char* a : {"224.0.0.1", "239.1.2.3", "240.0.0.1", "255.255.255.254"})
        EXPECT_TRUE(is_multicast_addr(inet_addr(a))) << a;
    for (const char* a : {"192.168.1.20", "223.255.255.255", "0.0.0.0", "127.0.0.1"})
        EXPECT_FALSE(is_multicast_addr(inet_addr(a))) << a;
    EXPECT_EQ(port_for(inet_addr("192.168.1.20"), 4956), 4956);
    EXPECT_EQ(port_for(inet_addr("239.1.2.3"), 4956), 49501);
}

const char* ENV_TOOL = "#!/bin/sh\nR=\"$(dirname \"$0\")/../../..\"\n"
                       "if [ $# -eq 0 ]; then cat \"$R/sim/env.main\"; fi\n";

class TxTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { build_g711_tables(); }
    void SetUp() override {
        fd_audioDev = -1;
        board.write("/usr/local/bin/env.d", ENV_TOOL, 0755);
        board.write("/sim/env.main", "");
    }
    void TearDown() override {
        if (link.sockfd >= 0)
            close(link.sockfd);
    }
    std::string open(const char* dest, const char* env, unsigned short port = 4956) {
        board.write("/sim/env.main", env);
        env_init(1);
        if (link.sockfd >= 0)
            close(link.sockfd);
        testing::internal::CaptureStdout();
        open_tx_socket(dest, "127.0.0.1", &link, port);
        return testing::internal::GetCapturedStdout();
    }
    int sockopt_byte(int option) {
        int value = -1;
        socklen_t len = sizeof value;
        EXPECT_EQ(getsockopt(link.sockfd, IPPROTO_IP, option, &value, &len), 0);
        return len == 1 ? value & 0xFF : value;
    }

    board_dir board;
    udp_link link;
};

TEST_F(TxTest, UnicastDestinationOnPort4956WithoutMulticastOptions) {
    std::string log = open("192.168.1.20", "");
    EXPECT_EQ(log, "udpServerIp=192.168.1.20\nServer-socket() sockfd is OK...\n"
                   "multicast=192.168.1.20:4956,C0A80114,C0A80114\n");
    EXPECT_EQ(link.addr.sin_family, AF_INET);
    EXPECT_EQ(ntohs(link.addr.sin_port), 4956);
    EXPECT_EQ(link.addr.sin_addr.s_addr, inet_addr("192.168.1.20"));
    EXPECT_EQ(sockopt_byte(IP_TOS), 0);
    EXPECT_EQ(sockopt_byte(IP_MULTICAST_TTL), 1); // the system default, untouched
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ASSERT_EQ(getsockname(link.sockfd, reinterpret_cast<sockaddr*>(&bound), &len), 0);
    EXPECT_EQ(bound.sin_port, 0); // never bound
}

TEST_F(TxTest, TypeOfServiceIsReadAsHexadecimalLowByte) {
    struct {
        const char* value;
        int tos;
    } rows[] = {{"10", 0x10}, {"0xB8", 0xB8}, {"b8", 0xB8}, {"1FF", 0xFF}, {"zz", 0}};
    for (auto r : rows) {
        open("127.0.0.1", (std::string("TOS=") + r.value + "\n").c_str());
        EXPECT_EQ(sockopt_byte(IP_TOS), r.tos) << r.value;
    }
}

// qemu-user 7.2 refuses IP_MULTICAST_IF; where the platform refuses it the multicast
// socket cannot be shown here (the address rules above still are).
bool platform_takes_multicast_if() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    in_addr iface{};
    iface.s_addr = inet_addr("127.0.0.1");
    bool ok = setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) == 0;
    close(s);
    return ok;
}

TEST_F(TxTest, MulticastDestinationSetsPortTtlAndInterface) {
    if (!platform_takes_multicast_if())
        GTEST_SKIP() << "this platform refuses IP_MULTICAST_IF";
    std::string log = open("239.1.2.3", "MULTICAST_TTL=300\n");
    EXPECT_NE(log.find("multicast=239.1.2.3:49501,EF010203,EF010203\n"), std::string::npos) << log;
    EXPECT_EQ(ntohs(link.addr.sin_port), 49501);
    EXPECT_EQ(sockopt_byte(IP_MULTICAST_TTL), 44);
    in_addr iface{};
    socklen_t len = sizeof iface;
    ASSERT_EQ(getsockopt(link.sockfd, IPPROTO_IP, IP_MULTICAST_IF, &iface, &len), 0);
    EXPECT_EQ(iface.s_addr, inet_addr("127.0.0.1"));

    open("240.0.0.1", "");
    EXPECT_EQ(ntohs(link.addr.sin_port), 49501);
    EXPECT_EQ(sockopt_byte(IP_MULTICAST_TTL), 1);
}

class TxFramesTest : public TxTest {
  protected:
    void SetUp() override {
        TxTest::SetUp();
        receiver = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("127.0.0.1");
        ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ASSERT_EQ(getsockname(receiver, reinterpret_cast<sockaddr*>(&a), &len), 0);
        port = ntohs(a.sin_port);
    }
    void TearDown() override {
        close(receiver);
        if (fd_audioDev >= 0)
            close(fd_audioDev);
        fd_audioDev = -1;
        TxTest::TearDown();
    }
    // The next datagram's length and bytes, or -1 when none came.
    ssize_t next(uint8_t* buf, size_t size) {
        for (int i = 0; i < 300; ++i) {
            ssize_t n = recv(receiver, buf, size, MSG_DONTWAIT | MSG_TRUNC);
            if (n >= 0)
                return n;
            usleep(10000);
        }
        return -1;
    }

    int receiver = -1;
    unsigned short port = 0;
};

TEST_F(TxFramesTest, FrameThatCannotBeReadIsNotSent) {
    open("127.0.0.1", "", port);
    board.add_devices();
    testing::internal::CaptureStdout();
    map_fpga_banks();
    testing::internal::GetCapturedStdout();
    pcm_frame buffer{};
    buffer.fill(0x11);
    uint16_t seq = 0;
    // The ring says a frame waits, but the device has none to give.
    sim_fpga_set16(0x2708, 1);
    sim_fpga_set16(0x270A, 0);
    const unsigned long capturedBefore = txCounters.captured.load();
    EXPECT_EQ(tx_send_waiting(link, buffer, &seq), -1);
    EXPECT_EQ(txCounters.captured.load(), capturedBefore);
    uint8_t got[2000];
    EXPECT_EQ(recv(receiver, got, sizeof got, MSG_DONTWAIT), -1);
    EXPECT_EQ(seq, 0);
}

TEST_F(TxFramesTest, FramesCapturedSentAndFailedAreCounted) {
    open("127.0.0.1", "", port);
    board.add_devices();
    board.configure("frame_us=2000\n");
    testing::internal::CaptureStdout();
    map_fpga_banks();
    fd_audioDev = open_audio_device();
    testing::internal::GetCapturedStdout();
    ASSERT_GE(fd_audioDev, 0);
    udp_link refused = link;
    refused.sockfd = -1; // every send fails
    pcm_frame buffer{};
    uint16_t seq = 0;
    for (const udp_link* l : {&link, &refused}) {
        const bool ok = l == &link;
        SCOPED_TRACE(ok ? "sent" : "refused");
        const unsigned long captured = txCounters.captured.load(), sent = txCounters.sent.load(),
                            failed = txCounters.sendFailures.load();
        unsigned long frames = 0;
        for (int i = 0; i < 3000 && frames < 3; ++i) {
            const int n = tx_send_waiting(*l, buffer, &seq);
            ASSERT_GE(n, 0);
            frames += static_cast<unsigned long>(n);
            usleep(1000);
        }
        ASSERT_GE(frames, 3u);
        EXPECT_EQ(txCounters.captured.load() - captured, frames);
        EXPECT_EQ(txCounters.sent.load() - sent, ok ? frames : 0u);
        EXPECT_EQ(txCounters.sendFailures.load() - failed, ok ? 0u : frames);
        if (!ok)
            continue;
        // What counts as sent is what went out.
        uint8_t got[2000];
        unsigned long datagrams = 0;
        while (next(got, sizeof got) == static_cast<ssize_t>(ALAW_PACKET_SIZE) &&
               ++datagrams < frames) {
        }
        EXPECT_EQ(datagrams, frames);
    }
    hw_close(fd_audioDev); // stops the device's clock
    fd_audioDev = -1;
}

} // namespace
