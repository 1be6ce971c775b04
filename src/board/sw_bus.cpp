// A request with a sw_bus_msg record, shared by the board's I2C and SPI bus drivers.
#include "board/sw_bus.h"

#include "hw/hw.h"

#include <cstring>

int sw_bus_request(int fd, unsigned long request, uint8_t addr, uint8_t reg, uint8_t* data,
                   int length, bool carriesData, pthread_mutex_t* lock) {
    sw_bus_msg msg;
    std::memset(&msg, 0, sizeof msg);
    msg.addr = addr;
    msg.reg = reg;
    msg.len = static_cast<uint8_t>(length);
    const auto count = static_cast<std::size_t>(length);
    if (carriesData)
        std::memcpy(msg.data, data, count);
    if (lock != nullptr)
        pthread_mutex_lock(lock);
    const int result = hw_ioctl(fd, request, &msg);
    if (lock != nullptr)
        pthread_mutex_unlock(lock);
    if (result < 0)
        return 0;
    std::memcpy(data, msg.data, count);
    return 1;
}
