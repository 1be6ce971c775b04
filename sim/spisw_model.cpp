// The board's SPI driver /dev/spi-sw with a register file of 256 bytes behind every device
// byte.
//
// Request 0x02 writes the record's data bytes to consecutive registers of the device and,
// as a full-duplex bus does, leaves in the record the bytes that the registers held before;
// request 0x01 reads consecutive registers into the record. A length outside 1..44 (the
// driver's record holds at most 44 data bytes) or registers past the last fail with a
// negative result. A test hook makes every request fail. Every request is shown to the SPI
// request hook of the tests before the model acts on it.
#include "sim/devices.h"
#include "sim/sim.h"

#include "util/spi_sw.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

constexpr int DEVICES = 256;
constexpr int REGS = 256;

std::mutex stateMutex;
uint8_t regs[DEVICES][REGS];
std::atomic<bool> failing{false};

int spisw_ioctl(int, unsigned long request, unsigned long arg) {
    auto* msg = reinterpret_cast<sw_bus_msg*>(static_cast<uintptr_t>(arg));
    const bool isWrite = request == static_cast<unsigned long>(spisw_request::write);
    const bool isRead = request == static_cast<unsigned long>(spisw_request::read);
    if (!isWrite && !isRead) {
        sim_trace(SPISW_DEVICE_PATH, request, "arg=0x%lx", arg);
        errno = ENOTTY;
        return -1;
    }
    if (msg == nullptr) {
        sim_trace(SPISW_DEVICE_PATH, request, "record=null");
        errno = EFAULT;
        return -1;
    }
    sim_spi_request_seen(SPISW_DEVICE_PATH);
    const int len = msg->len;
    const bool inRange = len >= 1 && len <= SPISW_DATA_MAX && msg->reg + len <= REGS;
    // The bytes written as sent, before the exchange replaces them.
    char sent[2 * SPISW_DATA_MAX + 1] = "";
    if (isWrite && inRange)
        sim_hex(msg->data, static_cast<size_t>(len), sent, sizeof sent);
    int result = 0;
    if (failing.load()) {
        errno = EIO;
        result = -1;
    } else if (!inRange) {
        errno = EINVAL;
        result = -1;
    } else {
        std::lock_guard<std::mutex> hold(stateMutex);
        uint8_t* at = regs[msg->addr] + msg->reg;
        for (int i = 0; i < len; ++i) {
            const uint8_t before = at[i];
            if (isWrite)
                at[i] = msg->data[i];
            msg->data[i] = before;
        }
    }
    char got[2 * SPISW_DATA_MAX + 1] = "";
    if (isRead && result == 0)
        sim_hex(msg->data, static_cast<size_t>(len), got, sizeof got);
    sim_trace(SPISW_DEVICE_PATH, request, "dev=0x%x reg=0x%x len=0x%x data=%s%s", msg->addr,
              msg->reg, static_cast<unsigned>(len), isWrite ? sent : got,
              result < 0 ? " fail" : "");
    return result;
}

} // namespace

const sim_device sim_dev_spisw = {SPISW_DEVICE_PATH, spisw_ioctl, nullptr, nullptr};

void sim_spisw_reset() {
    std::lock_guard<std::mutex> hold(stateMutex);
    std::memset(regs, 0, sizeof regs);
    failing.store(false);
}

int sim_spisw_reg(int dev, int reg) {
    if (dev < 0 || dev >= DEVICES || reg < 0 || reg >= REGS)
        return -1;
    std::lock_guard<std::mutex> hold(stateMutex);
    return regs[dev][reg];
}

void sim_spisw_fail_requests(bool fail) {
    failing.store(fail);
}
