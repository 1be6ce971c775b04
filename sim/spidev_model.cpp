// The spidev ports /dev/spidev.0, .1 and .2, each with an AK5701 behind it, and a GV760x on
// port 0.
//
// Transfers are decoded from the kernel's spi_ioc_transfer record exactly as the product
// builds it; the transmit bytes are read through the record's tx_buf pointer (the model runs
// in the product's process). A 2-byte write whose byte 0 is 0xA0 | reg (reg below 0x20) sets
// that AK5701 register; the AK5701 answers nothing, its receive buffer is left as it was.
//
// A 4-byte transfer on port 0 goes to the GV760x: bytes 0-1 are the command word (bit 15 set:
// read; bits 11-0: the register), bytes 2-3 the value, most significant byte first. A write
// sets the register; a read answers it in receive bytes 2-3; the other receive bytes are 0.
// Its trace line shows the received bytes as rx= before tx=.
//
// Every transfer is shown to the SPI request hook of the tests before the model acts on it.
#include "sim/devices.h"
#include "sim/sim.h"

#include <linux/spi/spidev.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr int PORTS = 3;
constexpr int AK_REGS = 0x20;
constexpr uint32_t MAX_TRANSFER = 256;      // bytes: far above any chip's write here
constexpr uint32_t MAX_SPEED_HZ = 25000000; // the AK5701's SPI limit is well below this

constexpr int GV_PORT = 0;
constexpr uint32_t GV_LENGTH = 4;
constexpr uint16_t GV_READ = 0x8000;
constexpr int GV_REGS = 0x1000;

struct port_state {
    uint8_t mode;
    uint8_t bits;
    uint32_t speed;
    uint8_t ak5701[AK_REGS];
};

std::mutex stateMutex;
port_state ports[PORTS];
uint16_t gv760x[GV_REGS];
std::atomic<unsigned> failMask{0};
std::atomic<unsigned> settingsFailMask{0};
std::atomic<sim_spi_hook> spiHook{nullptr};

// The GV760x's part of a 4-byte exchange: the four bytes it sends back.
void gv760x_exchange(const uint8_t* tx, uint8_t* reply) {
    const uint16_t cmd = static_cast<uint16_t>((tx[0] << 8) | tx[1]);
    uint16_t& reg = gv760x[cmd & (GV_REGS - 1)];
    std::memset(reply, 0, GV_LENGTH);
    if ((cmd & GV_READ) != 0) {
        reply[2] = static_cast<uint8_t>(reg >> 8);
        reply[3] = static_cast<uint8_t>(reg);
    } else {
        reg = static_cast<uint16_t>((tx[2] << 8) | tx[3]);
    }
}

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
    sim_spi_request_seen(path);
    const uint32_t len = t->len;
    uint8_t tx[MAX_TRANSFER] = {};
    const auto* txp = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(t->tx_buf));
    auto* rxp = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t->rx_buf));
    const bool lenOk = len >= 1 && len <= MAX_TRANSFER;
    if (lenOk && txp != nullptr)
        std::memcpy(tx, txp, len);
    const bool bitsOk = t->bits_per_word == 8 || t->bits_per_word == 0;
    const bool speedOk = t->speed_hz <= MAX_SPEED_HZ;
    const bool failing = (failMask.load() & (1u << port)) != 0;
    const bool ok = lenOk && txp != nullptr && bitsOk && speedOk && !failing;
    const bool gv = port == GV_PORT && len == GV_LENGTH;

    char rxText[2 * GV_LENGTH + 6] = "";
    if (ok && gv) {
        uint8_t reply[GV_LENGTH];
        {
            std::lock_guard<std::mutex> hold(stateMutex);
            gv760x_exchange(tx, reply);
        }
        if (rxp != nullptr)
            std::memcpy(rxp, reply, GV_LENGTH);
        char hex[2 * GV_LENGTH + 1];
        sim_hex(reply, GV_LENGTH, hex, sizeof hex);
        std::snprintf(rxText, sizeof rxText, "rx=%s ", hex);
    }
    char hex[2 * MAX_TRANSFER + 1];
    sim_hex(tx, lenOk ? len : 0, hex, sizeof hex);
    sim_trace(path, request, "len=0x%x speed=0x%x bits=0x%x %stx=%s", len, t->speed_hz,
              t->bits_per_word, rxText, hex);

    if (!lenOk || txp == nullptr || !bitsOk || !speedOk) {
        errno = EINVAL;
        return -1;
    }
    if (failing) {
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
    const bool setting = request == SPI_IOC_WR_MODE || request == SPI_IOC_WR_BITS_PER_WORD ||
                         request == SPI_IOC_WR_MAX_SPEED_HZ;
    if (setting && (settingsFailMask.load() & (1u << port)) != 0) {
        sim_trace(path, request, "fail");
        errno = EIO;
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
    std::memset(gv760x, 0, sizeof gv760x);
    failMask.store(0);
    settingsFailMask.store(0);
    spiHook.store(nullptr);
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

int sim_gv760x_reg(int reg) {
    if (reg < 0 || reg >= GV_REGS)
        return -1;
    std::lock_guard<std::mutex> hold(stateMutex);
    return gv760x[reg];
}

void sim_gv760x_set_reg(int reg, uint16_t value) {
    if (reg < 0 || reg >= GV_REGS)
        return;
    std::lock_guard<std::mutex> hold(stateMutex);
    gv760x[reg] = value;
}

void sim_set_spi_request_hook(sim_spi_hook hook) {
    spiHook.store(hook);
}

void sim_spi_request_seen(const char* device) {
    const sim_spi_hook hook = spiHook.load();
    if (hook != nullptr)
        hook(device);
}

void sim_spidev_fail_settings(int port, bool fail) {
    if (port < 0 || port >= PORTS)
        return;
    if (fail)
        settingsFailMask.fetch_or(1u << port);
    else
        settingsFailMask.fetch_and(~(1u << port));
}
