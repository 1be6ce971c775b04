// tx_thread: polls the capture ring and sends each waiting frame as one A-law datagram.
#include "net/tx_path.h"

#include "board/audio_dev.h"
#include "board/fpga.h"
#include "codec/frame.h"
#include "net/counters.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

bool frames_waiting() {
    return fpga_read16(fpga_addr(fpga_reg::ring_first)) !=
           fpga_read16(fpga_addr(fpga_reg::ring_second));
}

} // namespace

int tx_send_waiting(const udp_link& link, pcm_frame& buffer, uint16_t* seqNo) {
    int sent = 0;
    while (frames_waiting()) {
        // A frame that could not be read holds stale bytes: it is never sent.
        if (audio_read_frame(buffer) < 0) {
            count_one(txCounters.readFailures);
            return -1;
        }
        count_one(txCounters.captured);
        const uint32_t length = alaw_encode_frame(buffer);
        buffer[0] = PACKET_MARK_0;
        buffer[2] = PACKET_MARK_2;
        buffer[3] = PACKET_MARK_3;
        // The thread's own frame counter, kept beside the packet, never on the wire.
        buffer[PCM_TAIL_OFFSET] = static_cast<uint8_t>(*seqNo >> 8);
        buffer[PCM_TAIL_OFFSET + 1] = static_cast<uint8_t>(*seqNo);
        ++*seqNo;
        const ssize_t n = sendto(link.sockfd, buffer.data(), length, 0,
                                 reinterpret_cast<const sockaddr*>(&link.addr), sizeof link.addr);
        // A failed send is not repeated: the next frame is already on its way.
        count_one(n == static_cast<ssize_t>(length) ? txCounters.sent : txCounters.sendFailures);
        ++sent;
    }
    return sent;
}

void* tx_thread(void* arg) {
    const udp_link& link = *static_cast<const udp_link*>(arg);
    static pcm_frame buffer;
    uint16_t seqNo = 0;

    audio_control(audio_request::control_b);
    audio_control(audio_request::control_c);
    // Frames captured before the thread started are stale: read and drop them.
    const uint8_t pending = fpga_read8(fpga_addr(fpga_reg::pending));
    for (uint8_t i = 0; i != pending; ++i)
        (void)audio_read_frame(buffer);

    for (;;) {
        if (tx_send_waiting(link, buffer, &seqNo) <= 0)
            usleep(TX_IDLE_SLEEP_US);
    }
}
