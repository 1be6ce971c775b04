// One datagram of any length and content from any loopback sender, through a real socket, into
// rx_receive_one: only a whole packet from the allowed sender reaches the audio device, every
// other one is counted as dropped, and nothing of it is left behind for the next receive.
#include "fuzz_board.h"

#include "board/audio_dev.h"
#include "board/hw.h"
#include "codec/g711.h"
#include "net/rx_path.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t DATAGRAM_MAX = 2000;
constexpr const char* PLAY_LOG = "/sim/play.log"; // one line per frame the device plays

udp_link rxLink;
rx_state state;

in_addr_t loopback(uint8_t a, uint8_t b, uint8_t c) {
    return htonl(0x7F000000u | static_cast<uint32_t>(a) << 16 | static_cast<uint32_t>(b) << 8 | c);
}

void init() {
    static bool done = false;
    if (done)
        return;
    done = true;
    fuzz_board_init("playback_log=play.log\n");
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
    FUZZ_CHECK(bind(rxLink.sockfd, reinterpret_cast<sockaddr*>(&rxLink.addr), sizeof rxLink.addr) ==
                       0 &&
                   getsockname(rxLink.sockfd, reinterpret_cast<sockaddr*>(&rxLink.addr), &len) == 0,
               "receive socket");
}

long played_frames() {
    std::string log;
    if (!fuzz_read(PLAY_LOG, log))
        return 0;
    long lines = 0;
    for (char c : log)
        lines += c == '\n';
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    init();
    fuzz_input in{data, size};
    const uint8_t s1 = in.byte(), s2 = in.byte(), s3 = in.byte();
    const uint8_t f0 = in.byte(), f1 = in.byte(), f2 = in.byte(), f3 = in.byte();
    // 127.x.y.0 and 127.x.y.255 are left out: not every kernel sends from them.
    const in_addr_t sender = loopback(s1, s2, static_cast<uint8_t>(1 + s3 % 254));
    const in_addr_t allowed = (f0 & 1) != 0 ? 0 : loopback(f1, f2, f3);
    std::string datagram = in.rest();
    datagram.resize(std::min(datagram.size(), DATAGRAM_MAX));
    rxLink.src_filter.sin_addr.s_addr = allowed;

    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = sender;
    FUZZ_CHECK(bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0, "bind to %s",
               inet_ntoa(from.sin_addr));
    const ssize_t sent =
        sendto(s, datagram.data(), datagram.size(), 0,
               reinterpret_cast<const sockaddr*>(&rxLink.addr), sizeof rxLink.addr);
    close(s);
    FUZZ_CHECK(sent == static_cast<ssize_t>(datagram.size()), "sent %zd", sent);
    pollfd p{rxLink.sockfd, POLLIN, 0};
    FUZZ_CHECK(poll(&p, 1, 5000) == 1, "datagram of %zu bytes did not arrive", datagram.size());

    const rx_state before = state;
    fuzz_write(PLAY_LOG, ""); // the device appends to it
    const rx_step step = rx_receive_one(rxLink, state);
    const bool whole = datagram.size() == ALAW_PACKET_SIZE;
    const bool foreign = allowed != 0 && allowed != sender;
    const rx_step want = foreign ? rx_step::dropped_sender
                         : whole ? rx_step::played
                                 : rx_step::dropped_length;
    FUZZ_CHECK(step == want, "step %d, expected %d for %zu bytes", static_cast<int>(step),
               static_cast<int>(want), datagram.size());
    FUZZ_CHECK(state.sender.sin_addr.s_addr == sender, "sender not reported");
    FUZZ_CHECK(state.played - before.played == (want == rx_step::played ? 1u : 0u), "played");
    FUZZ_CHECK(state.droppedSender - before.droppedSender == (foreign ? 1u : 0u), "foreign");
    FUZZ_CHECK(state.droppedLength - before.droppedLength ==
                   (want == rx_step::dropped_length ? 1u : 0u),
               "length");
    FUZZ_CHECK(played_frames() == (want == rx_step::played ? 1 : 0),
               "%ld frames reached the device", played_frames());
    // What is played is the packet's samples, decoded.
    for (std::size_t i = 0; want == rx_step::played && i < FRAME_SAMPLES; ++i) {
        const auto code = static_cast<uint8_t>(datagram[ALAW_CODES_OFFSET + i]);
        const auto sample = static_cast<uint16_t>(alaw_to_lin_table[code]);
        FUZZ_CHECK(state.frame[PCM_SAMPLES_OFFSET + 2 * i] == sample >> 8 &&
                       state.frame[PCM_SAMPLES_OFFSET + 2 * i + 1] == (sample & 0xFF),
                   "sample %zu is not the decoded code 0x%02x", i, code);
    }
    FUZZ_CHECK(rx_receive_one(rxLink, state) == rx_step::idle, "something left behind");
    return 0;
}
