// The record of the board's own bus drivers (/dev/i2c-sw, /dev/spi-sw): one per request.
#pragma once

#include <cstddef>
#include <cstdint>

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
