// The receive path: socket set-up, the sender filter, whole packets only, and rate-limited
// reports of what is dropped.
#include "net/rx_path.h"

#include "board/audio_dev.h"
#include "codec/g711.h"
#include "support/board_dir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A UDP socket bound to a loopback address, to send from.
int sender_on(const char* address) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(address);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
}

void send_to(int s, const udp_link& link, size_t size, uint8_t fill = 0xD5) {
    std::string payload(size, static_cast<char>(fill));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = link.addr.sin_port;
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(
        sendto(s, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        static_cast<ssize_t>(size));
}

// Waits until one datagram has been handled (the socket never blocks).
rx_step receive(const udp_link& link, rx_state& state) {
    for (int i = 0; i < 2000; ++i) {
        rx_step step = rx_receive_one(link, state);
        if (step != rx_step::idle)
            return step;
        usleep(1000);
    }
    return rx_step::idle;
}

class RxTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { build_g711_tables(); }
    void SetUp() override { fd_audioDev = -1; }
    void TearDown() override {
        if (link.sockfd >= 0)
            close(link.sockfd);
        for (int s : senders)
            close(s);
    }
    void open(const char* inSrc) {
        testing::internal::CaptureStdout();
        open_rx_socket("127.0.0.1", inSrc, "127.0.0.1", &link);
        setupLog = testing::internal::GetCapturedStdout();
    }
    int sender(const char* address) {
        senders.push_back(sender_on(address));
        return senders.back();
    }

    board_dir board;
    udp_link link;
    rx_state state;
    std::string setupLog;
    std::vector<int> senders;
};

TEST_F(RxTest, UnicastSocketIsBoundToPort4956WithTheSenderFilter) {
    open("127.0.0.2");
    EXPECT_EQ(setupLog, "Server-socket() sockfd is OK...\nRecv Ip=127.0.0.1:4956\n");
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ASSERT_EQ(getsockname(link.sockfd, reinterpret_cast<sockaddr*>(&bound), &len), 0);
    EXPECT_EQ(ntohs(bound.sin_port), 4956);
    EXPECT_EQ(bound.sin_addr.s_addr, htonl(INADDR_ANY));
    EXPECT_EQ(link.addr.sin_family, AF_INET);
    EXPECT_EQ(ntohs(link.addr.sin_port), 4956);
    EXPECT_EQ(link.addr.sin_addr.s_addr, inet_addr("127.0.0.1"));
    EXPECT_EQ(link.src_filter.sin_addr.s_addr, inet_addr("127.0.0.2"));
    EXPECT_EQ(link.src_filter.sin_port, 0);
}

TEST_F(RxTest, WholePacketFromTheAllowedSenderIsDecoded) {
    open("127.0.0.2");
    int s = sender("127.0.0.2");
    send_to(s, link, ALAW_PACKET_SIZE, 0xD5);
    ASSERT_EQ(receive(link, state), rx_step::played);
    EXPECT_EQ(state.played, 1u);
    for (size_t i = 0; i < FRAME_SAMPLES; ++i) {
        ASSERT_EQ(state.frame[PCM_SAMPLES_OFFSET + 2 * i], 0x00) << i;
        ASSERT_EQ(state.frame[PCM_SAMPLES_OFFSET + 2 * i + 1], 0x08) << i; // +8
    }
}

TEST_F(RxTest, EmptyShortAndLongDatagramsAreDroppedAndCounted) {
    open("");
    int s = sender("127.0.0.1");
    send_to(s, link, ALAW_PACKET_SIZE, 0x2A); // a whole packet first: -32256 everywhere
    ASSERT_EQ(receive(link, state), rx_step::played);
    const pcm_frame played = state.frame;
    testing::internal::CaptureStdout();
    for (size_t size :
         {size_t{0}, size_t{4}, size_t{775}, size_t{777}, size_t{1544}, size_t{2000}}) {
        send_to(s, link, size, 0xAA);
        EXPECT_EQ(receive(link, state), rx_step::dropped_length) << size;
    }
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(state.droppedLength, 6u);
    EXPECT_EQ(state.played, 1u);
    EXPECT_EQ(log.rfind("audio datagram of 0 bytes dropped\n", 0), 0u) << log;
    // One line for the first drop; the rest are held for a summary a minute later.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    // Nothing of the dropped datagrams reaches the frame that is played next, not even the
    // tail bytes that decoding leaves alone.
    send_to(s, link, ALAW_PACKET_SIZE, 0x2A);
    ASSERT_EQ(receive(link, state), rx_step::played);
    EXPECT_EQ(state.frame, played);
}

TEST_F(RxTest, ForeignSenderIsDroppedWithOneLineAndTheRestHeld) {
    open("127.0.0.2");
    int foreign = sender("127.0.0.3");
    testing::internal::CaptureStdout();
    for (int i = 0; i < 40; ++i) {
        send_to(foreign, link, ALAW_PACKET_SIZE);
        ASSERT_EQ(receive(link, state), rx_step::dropped_sender);
    }
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log, "audio recevied from unknown device(127.0.0.3)!\n");
    EXPECT_EQ(state.droppedSender, 40u);
    EXPECT_EQ(state.received, 40u);
    EXPECT_EQ(state.played, 0u);
    EXPECT_EQ(state.senderLog.held, 39u);
}

// What SO_RCVBUF reads back after a plain request of RX_BUFFER_BYTES: the system's cap.
int plain_buffer_grant() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    int wanted = RX_BUFFER_BYTES, granted = -1;
    socklen_t len = sizeof granted;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted), 0);
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVBUF, &granted, &len), 0);
    close(s);
    return granted;
}

// Whether this process may go beyond the cap here (root on the host; qemu-user may refuse).
bool may_force_buffer() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    int wanted = RX_BUFFER_BYTES;
    bool ok = setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) == 0;
    close(s);
    return ok;
}

TEST_F(RxTest, ReceiveBufferIsAsLargeAsTheProcessMayHave) {
    open("127.0.0.2");
    int granted = -1;
    socklen_t len = sizeof granted;
    ASSERT_EQ(getsockopt(link.sockfd, SOL_SOCKET, SO_RCVBUF, &granted, &len), 0);
    EXPECT_EQ(rx_request_buffer(link.sockfd), granted);
    EXPECT_GE(granted, plain_buffer_grant());
    if (may_force_buffer()) {
        EXPECT_GE(granted, RX_BUFFER_BYTES);
    }
    // Asking on something that is no socket changes nothing and ends nothing.
    EXPECT_EQ(rx_request_buffer(-1), -1);
}

TEST_F(RxTest, DrainHandlesABurstBackToBackAndWaitWakesOnArrival) {
    open("127.0.0.2");
    EXPECT_EQ(rx_wait(link, 1), 0); // nothing waiting: the timeout ends the wait
    int allowed = sender("127.0.0.2"), foreign = sender("127.0.0.3");
    // 150 datagrams at once: more than a default buffer of about ninety holds.
    testing::internal::CaptureStdout();
    for (int i = 0; i < 50; ++i) {
        send_to(allowed, link, ALAW_PACKET_SIZE);
        send_to(foreign, link, ALAW_PACKET_SIZE);
        send_to(allowed, link, static_cast<size_t>(i));
    }
    EXPECT_EQ(rx_wait(link, 60000), 1);
    EXPECT_EQ(rx_drain(link, state), 150u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(state.received, 150u);
    EXPECT_EQ(state.played, 50u);
    EXPECT_EQ(state.droppedSender, 50u);
    EXPECT_EQ(state.droppedLength, 50u);
    EXPECT_EQ(rx_receive_one(link, state), rx_step::idle);
    EXPECT_EQ(rx_drain(link, state), 0u);
}

TEST_F(RxTest, EmptyOrZeroSourceAcceptsEverySender) {
    for (const char* inSrc : {"", "0.0.0.0"}) {
        SCOPED_TRACE(inSrc);
        open(inSrc);
        EXPECT_EQ(link.src_filter.sin_addr.s_addr, 0u);
        int s = sender("127.0.0.5");
        send_to(s, link, ALAW_PACKET_SIZE);
        EXPECT_EQ(receive(link, state), rx_step::played);
        close(link.sockfd);
        link.sockfd = -1;
    }
}

TEST_F(RxTest, MulticastDestinationUsesPort49501AndAFailedJoinIsNotFatal) {
    testing::internal::CaptureStdout();
    open_rx_socket("240.0.0.1", "", "127.0.0.1", &link); // multicast by the rule, yet no group
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("Recv Ip=240.0.0.1:49501\n"), std::string::npos);
    EXPECT_NE(log.find("multicast: can't join 240.0.0.1 on 127.0.0.1"), std::string::npos) << log;
    EXPECT_EQ(ntohs(link.addr.sin_port), 49501);
    EXPECT_GE(link.sockfd, 0);
}

} // namespace
