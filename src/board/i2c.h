// I2C through the board's own driver /dev/i2c-sw: one open-request-close per transaction.
#pragma once

#include "board/sw_bus.h"

#include <cstdint>

inline constexpr const char* I2C_DEVICE_PATH = "/dev/i2c-sw";

// Plain request numbers of the driver; the argument is a sw_bus_msg.
enum class i2c_request : unsigned long {
    read = 0x01,
    write = 0x02,
};

// The driver's descriptor while a transaction runs; -1 otherwise. One slot for the process:
// I2C transactions must not run at the same time.
extern int fd_i2cDev;

// Opens the driver into fd_i2cDev; 1, or 0 after perror("/dev/i2c-sw").
int i2c_open();
void i2c_close();
// One write request: 1 when the driver accepted it (the record's data bytes are then copied
// back into data), 0 when it failed or length is outside 1..255 (nothing is sent then).
int i2c_xfer_write(int addr, int reg, uint8_t* data, int length);
// One read request: 1 with length bytes copied into data, 0 on failure or a length outside
// 1..255 (data is then unchanged).
int i2c_xfer_read(int addr, int reg, uint8_t* data, int length);
// Open, transfer, close, whatever each step gives; the caller is not told the outcome.
void i2c_write(int addr, int reg, uint8_t* data, int length);
void i2c_read(int addr, int reg, uint8_t* data, int length);
