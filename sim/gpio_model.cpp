// The codec GPIO driver /dev/codec-gpio1: keeps the state of every line.
//
// Request word: command in bits 31..24 (0 set-up, 1 read, 2 drive), line in bits 15..0.
// Drive takes the value itself as the argument, read the address of a 32-bit int to fill,
// set-up a configuration word that the model keeps beside the line.
#include "board/gpio.h"
#include "sim/devices.h"
#include "sim/sim.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

constexpr int LINES = 0x10000;

std::mutex stateMutex;
int32_t lineState[LINES];
uint32_t lineSetup[LINES];

int gpio_ioctl(int, unsigned long request, unsigned long arg) {
    const unsigned command = static_cast<unsigned>((request >> 24) & 0xFF);
    const unsigned line = static_cast<unsigned>(request & 0xFFFF);
    // Bits 23..16 and anything above bit 31 are never set in a request word.
    const bool wellFormed = (static_cast<uint64_t>(request) & ~uint64_t{0xFF00FFFF}) == 0;
    if (wellFormed && command == 0x02) {
        std::lock_guard<std::mutex> hold(stateMutex);
        lineState[line] = static_cast<int32_t>(arg);
        sim_trace(GPIO_DEVICE_PATH, request, "arg=0x%lx", arg);
        return 0;
    }
    if (wellFormed && command == 0x01) {
        auto* out = reinterpret_cast<int32_t*>(static_cast<uintptr_t>(arg));
        if (out == nullptr) {
            sim_trace(GPIO_DEVICE_PATH, request, "arg=0x0");
            errno = EFAULT;
            return -1;
        }
        std::lock_guard<std::mutex> hold(stateMutex);
        *out = lineState[line];
        sim_trace(GPIO_DEVICE_PATH, request, "value=0x%x", static_cast<unsigned>(*out));
        return 0;
    }
    if (wellFormed && command == 0x00) {
        std::lock_guard<std::mutex> hold(stateMutex);
        lineSetup[line] = static_cast<uint32_t>(arg);
        sim_trace(GPIO_DEVICE_PATH, request, "arg=0x%lx", arg);
        return 0;
    }
    sim_trace(GPIO_DEVICE_PATH, request, "arg=0x%lx", arg);
    errno = ENOTTY;
    return -1;
}

} // namespace

const sim_device sim_dev_gpio = {GPIO_DEVICE_PATH, gpio_ioctl, nullptr, nullptr};

void sim_gpio_reset() {
    std::lock_guard<std::mutex> hold(stateMutex);
    std::memset(lineState, 0, sizeof lineState);
    std::memset(lineSetup, 0, sizeof lineSetup);
}

int sim_gpio_line(int line) {
    if (line < 0 || line >= LINES)
        return 0;
    std::lock_guard<std::mutex> hold(stateMutex);
    return lineState[line];
}
