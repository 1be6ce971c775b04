// The receive path: datagrams from the allowed sender are decoded and played.
#pragma once

#include "codec/frame.h"
#include "net/udp_link.h"

#include <cstdint>
#include <ctime>

inline constexpr unsigned RX_IDLE_SLEEP_US = 30000;
// Lines about dropped datagrams are written at most this often.
inline constexpr long RX_LOG_INTERVAL_MS = 1000;

// Creates and binds the receiving socket for IN_DEST and fills link (sender filter from
// IN_SRC, empty or 0.0.0.0 for any sender). A multicast IN_DEST joins its group on the
// interface whose address is ifaceText (OUT_SRC). Ends the process with status 1 on socket
// or bind failure; a refused group join is logged and the start-up goes on.
void open_rx_socket(const char* inDestText, const char* inSrcText, const char* ifaceText,
                    udp_link* link);

// One log line at most per interval; what is held back is counted.
struct rx_log_limit {
    timespec last{};
    bool used = false;
    unsigned held = 0;
};

struct rx_state {
    pcm_frame frame{};
    sockaddr_in sender{};
    unsigned long played = 0;
    unsigned long droppedSender = 0;
    unsigned long droppedLength = 0;
    rx_log_limit senderLog;
    rx_log_limit lengthLog;
};

enum class rx_step { idle, played, dropped_sender, dropped_length };

// Receives and handles at most one datagram, without waiting.
rx_step rx_receive_one(const udp_link& link, rx_state& state);

// The receive loop; the main thread ends here. Never returns.
[[noreturn]] void rx_loop(const udp_link* link);
