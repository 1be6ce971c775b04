// rx_loop: polls the socket, drops foreign and malformed datagrams, decodes and plays the rest.
#include "net/rx_path.h"

#include "board/audio_dev.h"
#include "log/log.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

long elapsed_ms(const timespec& from, const timespec& to) {
    return (to.tv_sec - from.tv_sec) * 1000L + (to.tv_nsec - from.tv_nsec) / 1000000L;
}

// Whether a line may be written now; a line held back is counted for the next one.
bool log_allowed(rx_log_limit& limit) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (limit.used && elapsed_ms(limit.last, now) < RX_LOG_INTERVAL_MS) {
        ++limit.held;
        return false;
    }
    limit.last = now;
    limit.used = true;
    return true;
}

void report_held(rx_log_limit& limit, const char* what) {
    if (limit.held == 0)
        return;
    log_printf("(%u more %s not shown)\n", limit.held, what);
    limit.held = 0;
}

} // namespace

rx_step rx_receive_one(const udp_link& link, rx_state& state) {
    socklen_t senderLen = sizeof state.sender;
    // At most one packet lands in the buffer; MSG_TRUNC gives the datagram's real length, so
    // a longer one is seen as such and leaves nothing behind beyond the packet.
    const ssize_t n =
        recvfrom(link.sockfd, state.frame.data(), ALAW_PACKET_SIZE, MSG_DONTWAIT | MSG_TRUNC,
                 reinterpret_cast<sockaddr*>(&state.sender), &senderLen);
    if (n == -1)
        return rx_step::idle;

    const in_addr_t allowed = link.src_filter.sin_addr.s_addr;
    if (allowed != 0 && allowed != state.sender.sin_addr.s_addr) {
        ++state.droppedSender;
        if (log_allowed(state.senderLog)) {
            log_printf("audio recevied from unknown device(%s)!\n",
                       inet_ntoa(state.sender.sin_addr));
            report_held(state.senderLog, "datagrams from unknown devices");
        }
        return rx_step::dropped_sender;
    }
    // Only a whole packet is played: anything else would be played from stale bytes.
    if (n != ALAW_PACKET_SIZE) {
        ++state.droppedLength;
        if (log_allowed(state.lengthLog)) {
            log_printf("audio datagram of %ld bytes dropped\n", static_cast<long>(n));
            report_held(state.lengthLog, "datagrams of wrong length");
        }
        return rx_step::dropped_length;
    }
    (void)alaw_decode_frame(state.frame);
    (void)audio_write_frame(state.frame);
    ++state.played;
    return rx_step::played;
}

void rx_loop(const udp_link* link) {
    static rx_state state;
    audio_control(audio_request::control_d);
    audio_control(audio_request::control_b);
    audio_control(audio_request::control_c);
    audio_control(audio_request::control_b);
    for (;;) {
        if (rx_receive_one(*link, state) == rx_step::idle)
            usleep(RX_IDLE_SLEEP_US);
    }
}
