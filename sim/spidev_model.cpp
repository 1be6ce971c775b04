// The spidev ports /dev/spidev.0, .1 and .2, each with an AK5701 behind it.
//
// Transfers are decoded from the kernel's spi_ioc_transfer record exactly as the product
// builds it; the transmit bytes are read through the record's tx_buf pointer (the model runs
// in the product's process). A write whose byte 0 is 0xA0 | reg (reg below 0x20) sets that
// AK5701 register. The chip answers nothing: the receive buffer is left as it was.
#include "sim/devices.h"
#include "sim/sim.h"

#include <linux/spi/spidev.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

constexpr int PORTS = 3;
constexpr int AK_REGS = 0x20;
constexpr uint32_t MAX_TRANSFER = 64;       // bytes: far above any AK5701 write
constexpr uint32_t MAX_SPEED_HZ = 25000000; // the AK5701's SPI limit is well below this

struct port_state {
    uint8_t mode;
    uint8_t bits;
    uint32_t speed;
    uint8_t ak5701[AK_REGS];
};

std::mutex stateMutex;
port_state ports[PORTS];
std::atomic<unsigned> failMask{0};

int port_of(int fd) {
    const sim_device* dev = sim_device_of(fd);
    if (dev == &sim_dev_spidev0)
        return 0;
    if (dev == &sim_dev_spidev1)
        return 1;
    return dev == &sim_dev_spidev2 ? 2 : -1;
}

int transfer(int port, const char* path, unsigned long request, const spi_ioc_transfer* t) {
    if (t == nullptr) {
        sim_trace(path, request, "record=null");
        errno = EFAULT;
        return -1;
    }
    const uint32_t len = t->len;
    uint8_t tx[MAX_TRANSFER] = {};
    const auto* txp = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(t->tx_buf));
    const bool lenOk = len >= 1 && len <= MAX_TRANSFER;
    if (lenOk && txp != nullptr)
        std::memcpy(tx, txp, len);
    char hex[2 * MAX_TRANSFER + 1];
    sim_hex(tx, lenOk ? len : 0, hex, sizeof hex);
    sim_trace(path, request, "len=0x%x speed=0x%x bits=0x%x tx=%s", len, t->speed_hz,
              t->bits_per_word, hex);

    const bool bitsOk = t->bits_per_word == 8 || t->bits_per_word == 0;
    const bool speedOk = t->speed_hz <= MAX_SPEED_HZ;
    if (!lenOk || txp == nullptr || !bitsOk || !speedOk) {
        errno = EINVAL;
        return -1;
    }
    if ((failMask.load() & (1u << port)) != 0) {
        errno = EIO;
        return -1;
    }
    if (len == 2 && (tx[0] & 0xE0) == 0xA0) {
        std::lock_guard<std::mutex> hold(stateMutex);
        ports[port].ak5701[tx[0] & 0x1F] = tx[1];
    }
    return static_cast<int>(len);
}

int spidev_ioctl(int fd, unsigned long request, unsigned long arg) {
    const int port = port_of(fd);
    const char* path = sim_device_of(fd)->path;
    void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(arg));
    if (request == SPI_IOC_MESSAGE(1))
        return transfer(port, path, request, static_cast<const spi_ioc_transfer*>(p));
    if (p == nullptr) {
        sim_trace(path, request, "arg=0x0");
        errno = EFAULT;
        return -1;
    }
    std::lock_guard<std::mutex> hold(stateMutex);
    port_state& s = ports[port];
    switch (request) {
    case SPI_IOC_WR_MODE:
        s.mode = *static_cast<uint8_t*>(p);
        sim_trace(path, request, "mode=0x%x", s.mode);
        return 0;
    case SPI_IOC_RD_MODE:
        *static_cast<uint8_t*>(p) = s.mode;
        sim_trace(path, request, "mode=0x%x", s.mode);
        return 0;
    case SPI_IOC_WR_BITS_PER_WORD:
        s.bits = *static_cast<uint8_t*>(p);
        sim_trace(path, request, "bits=0x%x", s.bits);
        return 0;
    case SPI_IOC_RD_BITS_PER_WORD:
        *static_cast<uint8_t*>(p) = s.bits;
        sim_trace(path, request, "bits=0x%x", s.bits);
        return 0;
    case SPI_IOC_WR_MAX_SPEED_HZ:
        std::memcpy(&s.speed, p, sizeof s.speed);
        sim_trace(path, request, "speed=0x%x", s.speed);
        return 0;
    case SPI_IOC_RD_MAX_SPEED_HZ:
        std::memcpy(p, &s.speed, sizeof s.speed);
        sim_trace(path, request, "speed=0x%x", s.speed);
        return 0;
    default:
        sim_trace(path, request, "arg=0x%lx", arg);
        errno = ENOTTY;
        return -1;
    }
}

} // namespace

const sim_device sim_dev_spidev0 = {"/dev/spidev.0", spidev_ioctl, nullptr, nullptr};
const sim_device sim_dev_spidev1 = {"/dev/spidev.1", spidev_ioctl, nullptr, nullptr};
const sim_device sim_dev_spidev2 = {"/dev/spidev.2", spidev_ioctl, nullptr, nullptr};

void sim_spidev_reset() {
    std::lock_guard<std::mutex> hold(stateMutex);
    std::memset(ports, 0, sizeof ports);
    failMask.store(0);
}

int sim_ak5701_reg(int port, int reg) {
    if (port < 0 || port >= PORTS || reg < 0 || reg >= AK_REGS)
        return -1;
    std::lock_guard<std::mutex> hold(stateMutex);
    return ports[port].ak5701[reg];
}

void sim_spidev_fail_transfers(int port, bool fail) {
    if (port < 0 || port >= PORTS)
        return;
    if (fail)
        failMask.fetch_or(1u << port);
    else
        failMask.fetch_and(~(1u << port));
}
