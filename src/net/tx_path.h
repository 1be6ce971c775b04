// The transmit path: every captured frame becomes one 776-byte A-law datagram.
#pragma once

#include "codec/frame.h"
#include "net/udp_link.h"

#include <cstdint>

inline constexpr int TX_ENV_VALUE_SIZE = 32;
inline constexpr unsigned TX_IDLE_SLEEP_US = 1000;
// Head bytes 0, 2 and 3 of every packet sent; byte 1 is the captured frame's.
inline constexpr uint8_t PACKET_MARK_0 = 0x02;
inline constexpr uint8_t PACKET_MARK_2 = 0x02;
inline constexpr uint8_t PACKET_MARK_3 = 0xC1;

// Creates and configures the sending socket for the destination text, with the interface text
// (OUT_SRC) for multicast, and fills link. Ends the process with status 1 on socket trouble.
void open_tx_socket(const char* destText, const char* ifaceText, udp_link* link,
                    unsigned short unicastPort);

// Body of the transmit thread; arg is the udp_link filled by open_tx_socket. Never returns.
void* tx_thread(void* arg);

// Sends every frame that waits in the capture ring, built in place in the thread's buffer.
// Result: the number of frames sent, or -1 when a read failed (that frame is not sent).
int tx_send_waiting(const udp_link& link, pcm_frame& buffer, uint16_t* seqNo);
