// One datagram of any length and content from any loopback sender, through a real socket, into
// rx_receive_one: only a whole packet from the allowed sender reaches the audio device, decoded,
// every other one is counted as dropped, and nothing of it is left behind for the next receive.
#include "fuzz.h"

#include "board/audio_dev.h"
#include "codec/g711.h"
#include "net/rx_path.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr const char* PLAY_LOG = "/sim/play.log"; // one line per frame the device plays
udp_link rxLink;
rx_state state;

void setup() {
    build_g711_tables();
    fd_audioDev = open_audio_device();
    FUZZ_CHECK(fd_audioDev >= 0, "no audio device");
    // Closing the device stops its clock before the process ends.
    std::atexit([] { hw_close(fd_audioDev); });
    // A port of its own, so that runs beside other tests on this machine do not meet.
    rxLink.sockfd = socket(AF_INET, SOCK_DGRAM, 0);
    rxLink.addr.sin_family = AF_INET;
    rxLink.addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof rxLink.addr;
    auto* addr = reinterpret_cast<sockaddr*>(&rxLink.addr);
    FUZZ_CHECK(bind(rxLink.sockfd, addr, len) == 0 && getsockname(rxLink.sockfd, addr, &len) == 0,
               "receive socket");
}

in_addr_t loopback(uint8_t a, uint8_t b, uint8_t c) {
    return htonl(0x7F000000u | static_cast<uint32_t>(a) << 16 | static_cast<uint32_t>(b) << 8 | c);
}

} // namespace

FUZZ_TARGET("playback_log=play.log\n", setup) {
    const uint8_t s1 = in.byte(), s2 = in.byte(), s3 = in.byte();
    const uint8_t f0 = in.byte(), f1 = in.byte(), f2 = in.byte(), f3 = in.byte();
    // 127.x.y.0 and 127.x.y.255 are left out: not every kernel sends from them.
    const in_addr_t sender = loopback(s1, s2, static_cast<uint8_t>(1 + s3 % 254));
    const in_addr_t allowed = (f0 & 1) != 0 ? 0 : loopback(f1, f2, f3);
    std::string datagram = in.rest();
    datagram.resize(std::min<std::size_t>(datagram.size(), 2000));
    rxLink.src_filter.sin_addr.s_addr = allowed;

    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = sender;
    FUZZ_CHECK(bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0, "bind to %s",
               inet_ntoa(from.sin_addr));
    const ssize_t sent =
        sendto(s, datagram.data(), datagram.size(), 0,
               reinterpret_cast<const sockaddr*>(&rxLink.addr), sizeof rxLink.addr);
    close(s);
    pollfd p{rxLink.sockfd, POLLIN, 0};
    FUZZ_CHECK(sent == static_cast<ssize_t>(datagram.size()) && poll(&p, 1, 5000) == 1,
               "datagram of %zu bytes not sent or not arrived", datagram.size());

    const rx_state before = state;
    fuzz_write(PLAY_LOG, ""); // the device appends to it
    const rx_step step = rx_receive_one(rxLink, state);
    const bool foreign = allowed != 0 && allowed != sender;
    const rx_step want = foreign                               ? rx_step::dropped_sender
                         : datagram.size() == ALAW_PACKET_SIZE ? rx_step::played
                                                               : rx_step::dropped_length;
    FUZZ_CHECK(step == want, "step %d, expected %d for %zu bytes", static_cast<int>(step),
               static_cast<int>(want), datagram.size());
    FUZZ_CHECK(state.sender.sin_addr.s_addr == sender, "sender not reported");
    const auto counted = [want](unsigned long now, unsigned long was, rx_step kind) {
        return now - was == (want == kind ? 1u : 0u);
    };
    FUZZ_CHECK(counted(state.played, before.played, rx_step::played) &&
                   counted(state.droppedSender, before.droppedSender, rx_step::dropped_sender) &&
                   counted(state.droppedLength, before.droppedLength, rx_step::dropped_length),
               "counters");
    std::string played;
    fuzz_read(PLAY_LOG, played);
    FUZZ_CHECK(std::count(played.begin(), played.end(), '\n') == (want == rx_step::played ? 1 : 0),
               "%zu bytes of play log", played.size());
    // What is played is the packet's samples, decoded.
    for (std::size_t i = 0; want == rx_step::played && i < FRAME_SAMPLES; ++i) {
        const auto code = static_cast<uint8_t>(datagram[ALAW_CODES_OFFSET + i]);
        const auto sample = static_cast<uint16_t>(alaw_to_lin_table[code]);
        FUZZ_CHECK(state.frame[PCM_SAMPLES_OFFSET + 2 * i] == sample >> 8 &&
                       state.frame[PCM_SAMPLES_OFFSET + 2 * i + 1] == (sample & 0xFF),
                   "sample %zu is not the decoded code 0x%02x", i, code);
    }
    FUZZ_CHECK(rx_receive_one(rxLink, state) == rx_step::idle, "something left behind");
}
