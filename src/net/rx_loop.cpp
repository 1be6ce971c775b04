// rx_loop: waits on the socket, drains it, drops foreign and malformed datagrams, decodes and
// plays the rest, keeps the statistics of the played stream, and answers the operator's
// counters request.
#include "net/rx_path.h"

#include "board/audio_dev.h"
#include "net/counters.h"
#include "net/mcast_rejoin.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

void rx_tick(rx_state& state, int64_t nowUs) {
    rx_drop_flush(state.senderLog, nowUs);
    rx_drop_flush(state.lengthLog, nowUs);
    const stream_event event = stream_tick(state.stream, nowUs);
    stream_log_event(state.streamLog, state.stream, event, nowUs);
    stream_log_flush(state.streamLog, state.stream, nowUs);
    mcast_tick(rxGroup, state.stream, event, nowUs);
}

rx_step rx_handle_datagram(const udp_link& link, rx_state& state, long length, int64_t nowUs) {
    ++state.received;
    const in_addr_t allowed = link.src_filter.sin_addr.s_addr;
    const in_addr_t sender = state.sender.sin_addr.s_addr;
    rx_step step = rx_step::played;
    if (allowed != 0 && allowed != sender) {
        ++state.droppedSender;
        rx_drop_note(state.senderLog, sender, length, nowUs);
        step = rx_step::dropped_sender;
    } else if (length != static_cast<long>(ALAW_PACKET_SIZE)) {
        // Only a whole packet is played: anything else would be played from stale bytes.
        ++state.droppedLength;
        rx_drop_note(state.lengthLog, sender, length, nowUs);
        step = rx_step::dropped_length;
    }
    if (step != rx_step::played) {
        // A flood keeps the loop from idling: the other kind's count goes out too, and the
        // stream's own silence is seen.
        rx_tick(state, nowUs);
        return step;
    }
    const uint16_t counter = static_cast<uint16_t>(state.frame[ALAW_TAIL_OFFSET] << 8 |
                                                   state.frame[ALAW_TAIL_OFFSET + 1]);
    (void)alaw_decode_frame(state.frame);
    if (audio_play_frame(state.frame) < 0)
        ++state.writeFailures;
    ++state.played;
    const stream_event event = stream_note(state.stream, counter, nowUs, sender);
    stream_log_event(state.streamLog, state.stream, event, nowUs);
    return step;
}

rx_step rx_receive_one(const udp_link& link, rx_state& state) {
    socklen_t senderLen = sizeof state.sender;
    // At most one packet lands in the buffer; MSG_TRUNC gives the datagram's real length, so
    // a longer one is seen as such and leaves nothing behind beyond the packet.
    const ssize_t n =
        recvfrom(link.sockfd, state.frame.data(), ALAW_PACKET_SIZE, MSG_DONTWAIT | MSG_TRUNC,
                 reinterpret_cast<sockaddr*>(&state.sender), &senderLen);
    if (n == -1)
        return rx_step::idle;
    return rx_handle_datagram(link, state, static_cast<long>(n), rx_clock_us());
}

unsigned long rx_drain(const udp_link& link, rx_state& state) {
    unsigned long handled = 0;
    for (;;) {
        const rx_step step = rx_receive_one(link, state);
        // Looked at after every datagram: a flood that never lets the socket empty does not
        // hold the answer back.
        if (counters_requested() == 1)
            log_counters(state);
        if (step == rx_step::idle)
            return handled;
        ++handled;
    }
}

int rx_wait(const udp_link& link, int timeoutMs) {
    pollfd waiting{};
    waiting.fd = link.sockfd;
    waiting.events = POLLIN;
    return poll(&waiting, 1, timeoutMs);
}

void rx_loop(const udp_link* link) {
    static rx_state state;
    audio_control(audio_request::control_d);
    audio_control(audio_request::control_b);
    audio_control(audio_request::control_c);
    audio_control(audio_request::control_b);
    counters_request_accept();
    for (;;) {
        (void)rx_drain(*link, state);
        rx_tick(state, rx_clock_us());
        // Woken by the next datagram, or by SIGUSR1 (EINTR); a poll that cannot wait at all
        // must not turn the loop into a busy one.
        if (rx_wait(*link, RX_IDLE_TIMEOUT_MS) == -1 && errno != EINTR)
            usleep(RX_IDLE_TIMEOUT_MS * 1000);
    }
}
