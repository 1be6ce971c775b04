// The record of the board's own bus drivers (/dev/i2c-sw, /dev/spi-sw): one per request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <pthread.h>

// The length byte counts 1..255 data bytes; the record holds that many.
inline constexpr std::size_t SW_BUS_DATA_MAX = 255;

struct sw_bus_msg {
    uint8_t addr;  // device address on the bus
    uint8_t reg;   // register address
    uint8_t len;   // data length in bytes, 1..255
    uint8_t spare; // not set
    uint8_t data[SW_BUS_DATA_MAX];
};
static_assert(offsetof(sw_bus_msg, data) == 4, "data bytes follow the 4-byte header");

// 1 when length data bytes fit the record (1..255), else 0.
constexpr int sw_bus_length_fits(int length) {
    return length >= 1 && static_cast<std::size_t>(length) <= SW_BUS_DATA_MAX ? 1 : 0;
}

// One request with one record on an open bus device: the header from addr, reg and length,
// the caller's data bytes when the request carries them (a write), the request itself (under
// lock when one is given), then length data bytes back into the caller's buffer. The caller
// has checked length against its driver's capacity. Result 1, or 0 when the request failed
// (the caller's buffer is then unchanged).
int sw_bus_request(int fd, unsigned long request, uint8_t addr, uint8_t reg, uint8_t* data,
                   int length, bool carriesData, pthread_mutex_t* lock);
