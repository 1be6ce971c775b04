// One datagram of any length and content from any loopback sender, through a real socket, into
// rx_receive_one: only a whole packet from the allowed sender reaches the audio device, decoded,
// every other one is counted as dropped, and nothing of it is left behind for the next receive.
#include "fuzz.h"

#include "board/audio_dev.h"
#include "codec/g711.h"
#include "net/rx_path.h"

#include <arpa/inet.h>
#include <poll.h>

static udp_link rxLink;
static rx_state state;

static void setup() {
    fuzz_board_init("playback_log=play.log\n"); // one line per frame the device plays
    build_g711_tables();
    fd_audioDev = open_audio_device();
    std::atexit([] { hw_close(fd_audioDev); }); // stops the device's clock before the end
    // A port of its own, so that runs beside other tests on this machine do not meet.
    rxLink.sockfd = socket(AF_INET, SOCK_DGRAM, 0);
    rxLink.addr = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof rxLink.addr;
    auto* addr = reinterpret_cast<sockaddr*>(&rxLink.addr);
    FUZZ_CHECK(fd_audioDev >= 0 && bind(rxLink.sockfd, addr, len) == 0 &&
               getsockname(rxLink.sockfd, addr, &len) == 0);
}

FUZZ_TARGET(setup) {
    const uint8_t s1 = in.byte(), s2 = in.byte(), s3 = in.byte();
    const uint8_t f0 = in.byte(), f1 = in.byte(), f2 = in.byte(), f3 = in.byte();
    // 127.x.y.0 and 127.x.y.255 are left out: not every kernel sends from them.
    const sockaddr_in from{
        AF_INET, 0, {htonl(0x7F000000u | s1 << 16 | s2 << 8 | (1 + s3 % 254))}, {}};
    const in_addr_t allowed = (f0 & 1) != 0 ? 0 : htonl(0x7F000000u | f1 << 16 | f2 << 8 | f3);
    const std::string datagram = in.rest().substr(0, 2000);
    rxLink.src_filter.sin_addr.s_addr = allowed;
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    pollfd p{rxLink.sockfd, POLLIN, 0};
    FUZZ_CHECK(bind(s, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0 &&
                   sendto(s, datagram.data(), datagram.size(), 0,
                          reinterpret_cast<const sockaddr*>(&rxLink.addr),
                          sizeof rxLink.addr) == static_cast<ssize_t>(datagram.size()) &&
                   close(s) == 0 && poll(&p, 1, 5000) == 1,
               "datagram of %zu bytes from %s\n", datagram.size(), inet_ntoa(from.sin_addr));

    const rx_state before = state;
    fuzz_write("/sim/play.log", ""); // the device appends to it
    const rx_step step = rx_receive_one(rxLink, state);
    const rx_step want = allowed != 0 && allowed != from.sin_addr.s_addr ? rx_step::dropped_sender
                         : datagram.size() == ALAW_PACKET_SIZE           ? rx_step::played
                                                                         : rx_step::dropped_length;
    FUZZ_CHECK(step == want && state.sender.sin_addr.s_addr == from.sin_addr.s_addr, "step %d\n",
               static_cast<int>(step));
    // Exactly one counter moved, the one of the step, and a frame played only when it says so.
    const unsigned long counted[] = {state.played - before.played,
                                     state.droppedSender - before.droppedSender,
                                     state.droppedLength - before.droppedLength};
    FUZZ_CHECK(counted[0] + counted[1] + counted[2] == 1 &&
               counted[static_cast<int>(want) - 1] == 1);
    const std::string played = fuzz_read("/sim/play.log").value_or("");
    FUZZ_CHECK(std::ranges::count(played, '\n') == (want == rx_step::played ? 1 : 0));
    // What is played is the packet's codes, decoded.
    for (std::size_t i = 0; want == rx_step::played && i < FRAME_SAMPLES; ++i) {
        const uint8_t* pcm = &state.frame[PCM_SAMPLES_OFFSET + 2 * i];
        const auto code = static_cast<uint8_t>(datagram[ALAW_CODES_OFFSET + i]);
        FUZZ_CHECK((pcm[0] << 8 | pcm[1]) == static_cast<uint16_t>(alaw_to_lin_table[code]),
                   "sample %zu\n", i);
    }
    FUZZ_CHECK(rx_receive_one(rxLink, state) == rx_step::idle, "something left behind\n");
}
