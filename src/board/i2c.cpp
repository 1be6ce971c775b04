// I2C transactions on /dev/i2c-sw.
#include "board/i2c.h"

#include "hw/hw.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

int fd_i2cDev = -1;

int i2c_open() {
    fd_i2cDev = hw_open(I2C_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    if (fd_i2cDev < 0) {
        std::perror(I2C_DEVICE_PATH);
        return 0;
    }
    return 1;
}

void i2c_close() {
    hw_close(fd_i2cDev);
    fd_i2cDev = -1;
}

int i2c_xfer_write(int addr, int reg, uint8_t* data, int length) {
    if (sw_bus_length_fits(length) != 1) {
        errno = EINVAL;
        return 0;
    }
    return sw_bus_request(fd_i2cDev, static_cast<unsigned long>(i2c_request::write),
                          static_cast<uint8_t>(addr), static_cast<uint8_t>(reg), data, length, true,
                          nullptr);
}

int i2c_xfer_read(int addr, int reg, uint8_t* data, int length) {
    if (sw_bus_length_fits(length) != 1) {
        errno = EINVAL;
        return 0;
    }
    return sw_bus_request(fd_i2cDev, static_cast<unsigned long>(i2c_request::read),
                          static_cast<uint8_t>(addr), static_cast<uint8_t>(reg), data, length,
                          false, nullptr);
}

void i2c_write(int addr, int reg, uint8_t* data, int length) {
    i2c_open();
    i2c_xfer_write(addr, reg, data, length);
    i2c_close();
}

void i2c_read(int addr, int reg, uint8_t* data, int length) {
    i2c_open();
    i2c_xfer_read(addr, reg, data, length);
    i2c_close();
}
