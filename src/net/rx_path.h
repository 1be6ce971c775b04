// The receive path: datagrams from the allowed sender are decoded and played.
#pragma once

#include "codec/frame.h"
#include "net/rx_drop_log.h"
#include "net/stream_log.h"
#include "net/stream_stats.h"
#include "net/udp_link.h"

#include <cstdint>

// How long the loop waits for a datagram before it looks at its held lines and at the stream
// again.
inline constexpr int RX_IDLE_TIMEOUT_MS = 30;
// Receive buffer asked for (the kernel books twice that): some 3,600 datagrams, not the
// default ninety, so that a flood of foreign datagrams at 100,000 a second leaves the loop
// over 30 ms of scheduling delay before the stream's own datagrams would be refused. The
// memory is taken only while datagrams wait.
inline constexpr int RX_BUFFER_BYTES = 4 << 20;

// Creates and binds the receiving socket for IN_DEST and fills link (sender filter from
// IN_SRC, empty or 0.0.0.0 for any sender). A multicast IN_DEST joins its group on the
// interface whose address is ifaceText (OUT_SRC). Ends the process with status 1 on socket
// or bind failure; a refused group join is logged and the start-up goes on.
void open_rx_socket(const char* inDestText, const char* inSrcText, const char* ifaceText,
                    udp_link* link);

// Asks for a receive buffer of RX_BUFFER_BYTES: beyond the system's cap where the process may
// (SO_RCVBUFFORCE), otherwise up to the cap (SO_RCVBUF). Never fatal. Result: the size the
// kernel granted, as SO_RCVBUF reads back, or -1.
int rx_request_buffer(int sockfd);

struct rx_state {
    pcm_frame frame{};
    sockaddr_in sender{};
    unsigned long received = 0;
    unsigned long played = 0;
    unsigned long droppedSender = 0;
    unsigned long droppedLength = 0;
    unsigned long writeFailures = 0; // played frames that the audio device refused
    rx_drop_log senderLog{rx_drop_kind::sender};
    rx_drop_log lengthLog{rx_drop_kind::length};
    stream_stats stream{};
    stream_log streamLog{};
};

enum class rx_step { idle, played, dropped_sender, dropped_length };

// Receives and handles at most one datagram, without waiting.
rx_step rx_receive_one(const udp_link& link, rx_state& state);

// Handles the datagram of the given length (as received, not as kept) that has just been
// received into state.frame from state.sender, at nowUs of rx_clock_us.
rx_step rx_handle_datagram(const udp_link& link, rx_state& state, long length, int64_t nowUs);

// What the loop does at nowUs besides datagrams: the stream stops after a silence, the
// multicast group is renewed while it is stopped, held lines are summed up.
void rx_tick(rx_state& state, int64_t nowUs);

// Handles every datagram waiting, back to back, and answers a counters request seen meanwhile.
// Result: the number of datagrams handled.
unsigned long rx_drain(const udp_link& link, rx_state& state);

// Waits until a datagram is waiting, a signal arrives or timeoutMs have passed. Result: poll's.
int rx_wait(const udp_link& link, int timeoutMs);

// The receive loop; the main thread ends here. Never returns.
[[noreturn]] void rx_loop(const udp_link* link);
