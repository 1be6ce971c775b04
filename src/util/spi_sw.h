// The board's SPI driver /dev/spi-sw: sw_bus_msg records on one descriptor that stays open
// from spisw_open to spisw_close.
#pragma once

#include "board/sw_bus.h"

#include <cstddef>
#include <cstdint>

inline constexpr const char* SPISW_DEVICE_PATH = "/dev/spi-sw";
// The name perror gives an open failure (with an underscore, unlike the path).
inline constexpr const char* SPISW_OPEN_ERROR = "/dev/spi_sw";
// The driver's record is at most 48 bytes: a 4-byte header and at most 44 data bytes.
inline constexpr std::size_t SPISW_RECORD_MAX = 48;
inline constexpr int SPISW_DATA_MAX = 44;
static_assert(SPISW_RECORD_MAX == offsetof(sw_bus_msg, data) + SPISW_DATA_MAX);
static_assert(SPISW_DATA_MAX <= static_cast<int>(SW_BUS_DATA_MAX));

// Plain request numbers of the driver; the argument is a sw_bus_msg.
enum class spisw_request : unsigned long {
    read = 0x01,
    write = 0x02,
};

// The driver's descriptor from a successful spisw_open until spisw_close; -1 otherwise. One
// slot for the process: callers do not open or close it while another thread uses it.
extern int fd_spiSwDev;

// Opens the driver into fd_spiSwDev: 1, or 0 after perror("/dev/spi_sw").
int spisw_open();
// Closes fd_spiSwDev; the result of the close.
int spisw_close();
// One write request under spiLock: 1 when the driver accepted it (data then holds the
// record's data bytes as the driver left them), 0 when it failed. A length outside 1..44 or a
// null buffer is refused with 0 before anything is sent.
int spisw_write(uint8_t dev, uint8_t reg, uint8_t* data, int length);
// One read request under spiLock: 1 with length bytes copied into data, 0 on failure (data
// unchanged). Lengths and buffers are checked as for spisw_write.
int spisw_read(uint8_t dev, uint8_t reg, uint8_t* data, int length);
