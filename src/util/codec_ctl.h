// Control requests on the board's codec driver /dev/codec: one open-request-close each.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr const char* CODEC_CTL_DEVICE_PATH = "/dev/codec";
// The request that hands the driver two values and the constant 2.
inline constexpr unsigned long CODEC_CTL_SEND_REQUEST = 0x19;
inline constexpr uint32_t CODEC_CTL_SEND_CONSTANT = 2;

// The record passed with every request: 48 bytes, 32-bit words in the board's big-endian
// order. Bytes 0..35 carry nothing from these requests and are zero; the last three words
// are the request's values.
inline constexpr std::size_t CODEC_CTL_MSG_SIZE = 48;
inline constexpr std::size_t CODEC_CTL_FIRST_OFFSET = 36;
inline constexpr std::size_t CODEC_CTL_SECOND_OFFSET = 40;
inline constexpr std::size_t CODEC_CTL_THIRD_OFFSET = 44;

struct codec_ctl_msg {
    uint8_t bytes[CODEC_CTL_MSG_SIZE];
};
static_assert(sizeof(codec_ctl_msg) == CODEC_CTL_MSG_SIZE, "the driver's record is 48 bytes");

// The record with its last three words set (big-endian whatever the host), the rest zero.
codec_ctl_msg codec_ctl_build(uint32_t first, uint32_t second, uint32_t third);

// Request 0x19 with the words first, second and 2. Result: that of closing the device after
// the request (the request's own result is not looked at), or -1 when /dev/codec cannot be
// opened ("Error! open /dev/codec" is logged and no request is issued).
int codec_ctl_send(uint32_t first, uint32_t second);
// The caller's request with an all-zero record; results as codec_ctl_send.
int codec_ctl_request(unsigned long request);
