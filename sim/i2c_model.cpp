// The board's I2C driver /dev/i2c-sw with the MAX9850 at the board's address.
//
// Request 0x02 writes the record's data bytes to consecutive registers, request 0x01 reads
// them; a device address with no chip behind it, a length outside 1..255 or registers past
// the chip's last fail with a negative result, as the driver does.
#include "board/i2c.h"
#include "board/max9850.h"
#include "sim/devices.h"
#include "sim/sim.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

constexpr int MAX9850_REGS = 0x0B; // registers 0x00..0x0A

std::mutex stateMutex;
uint8_t regs[MAX9850_REGS];

int i2c_ioctl(int, unsigned long request, unsigned long arg) {
    auto* msg = reinterpret_cast<sw_bus_msg*>(static_cast<uintptr_t>(arg));
    const bool isWrite = request == static_cast<unsigned long>(i2c_request::write);
    const bool isRead = request == static_cast<unsigned long>(i2c_request::read);
    if (!isWrite && !isRead) {
        sim_trace(I2C_DEVICE_PATH, request, "arg=0x%lx", arg);
        errno = ENOTTY;
        return -1;
    }
    if (msg == nullptr) {
        sim_trace(I2C_DEVICE_PATH, request, "record=null");
        errno = EFAULT;
        return -1;
    }
    const int len = msg->len;
    const bool chip = msg->addr == sim_max9850_addr();
    const bool inRange = len >= 1 && msg->reg + len <= MAX9850_REGS;
    int result = 0;
    {
        std::lock_guard<std::mutex> hold(stateMutex);
        if (!chip) {
            errno = ENXIO;
            result = -1;
        } else if (!inRange) {
            errno = EINVAL;
            result = -1;
        } else if (isWrite) {
            std::memcpy(regs + msg->reg, msg->data, static_cast<size_t>(len));
        } else {
            std::memcpy(msg->data, regs + msg->reg, static_cast<size_t>(len));
        }
    }
    char hex[2 * SW_BUS_DATA_MAX + 1];
    // Written bytes as sent; read bytes as returned (none when the read failed).
    sim_hex(msg->data, (isWrite || result == 0) ? static_cast<size_t>(len) : 0, hex, sizeof hex);
    sim_trace(I2C_DEVICE_PATH, request, "addr=0x%x reg=0x%x len=0x%x data=%s%s", msg->addr,
              msg->reg, static_cast<unsigned>(len), hex, result < 0 ? " fail" : "");
    return result;
}

} // namespace

const sim_device sim_dev_i2c = {I2C_DEVICE_PATH, i2c_ioctl, nullptr, nullptr};

void sim_i2c_reset() {
    std::lock_guard<std::mutex> hold(stateMutex);
    std::memset(regs, 0, sizeof regs);
}

int sim_max9850_addr() {
    const sim_board_conf& c = sim_conf();
    const int version = static_cast<int16_t>(c.fpgaVersion);
    if (version == 257 || (version > 257 && c.variant == 0x2D54))
        return MAX9850_ADDR_ALT;
    return MAX9850_ADDR_DEFAULT;
}

int sim_max9850_reg(int reg) {
    if (reg < 0 || reg >= MAX9850_REGS)
        return -1;
    std::lock_guard<std::mutex> hold(stateMutex);
    return regs[reg];
}
