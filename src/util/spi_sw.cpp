// Requests on /dev/spi-sw. Each request is one SPI transaction of the process: it holds
// spiLock like every other SPI driver, and releases it before the outcome is looked at.
#include "util/spi_sw.h"

#include "hw/hw.h"
#include "board/spi.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

int fd_spiSwDev = -1;

namespace {

// 1 when length data bytes fit the driver's record and there is a buffer to move them.
int request_fits(const uint8_t* data, int length) {
    return data != nullptr && length >= 1 && length <= SPISW_DATA_MAX ? 1 : 0;
}

} // namespace

int spisw_open() {
    fd_spiSwDev = hw_open(SPISW_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    if (fd_spiSwDev < 0) {
        std::perror(SPISW_OPEN_ERROR);
        return 0;
    }
    return 1;
}

int spisw_close() {
    int result = hw_close(fd_spiSwDev);
    fd_spiSwDev = -1;
    return result;
}

int spisw_write(uint8_t dev, uint8_t reg, uint8_t* data, int length) {
    if (request_fits(data, length) != 1) {
        errno = EINVAL;
        return 0;
    }
    return sw_bus_request(fd_spiSwDev, static_cast<unsigned long>(spisw_request::write), dev, reg,
                          data, length, true, &spiLock);
}

int spisw_read(uint8_t dev, uint8_t reg, uint8_t* data, int length) {
    if (request_fits(data, length) != 1) {
        errno = EINVAL;
        return 0;
    }
    return sw_bus_request(fd_spiSwDev, static_cast<unsigned long>(spisw_request::read), dev, reg,
                          data, length, false, &spiLock);
}
