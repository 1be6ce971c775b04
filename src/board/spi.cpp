// SPI transactions on the spidev ports. Every call opens its port, does its work and closes
// it again; spiLock keeps transactions from different threads apart on the bus.
#include "board/spi.h"

#include "hw/hw.h"
#include "log/log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

pthread_mutex_t spiLock = PTHREAD_MUTEX_INITIALIZER;

namespace {

unsigned long req(spi_request r) {
    return static_cast<unsigned long>(r);
}

int open_path(const char* path) {
    if (path == nullptr) {
        errno = ENODEV;
        return -1;
    }
    return hw_open(path, O_RDWR | O_CLOEXEC);
}

// Mode bit names in the order they are reported.
struct mode_name {
    uint8_t bit;
    const char* name;
};
constexpr mode_name modeNames[] = {
    {SPI_LOOP, "LOOP "},           {SPI_CPHA, "CPHA "},       {SPI_CPOL, "CPOL "},
    {SPI_LSB_FIRST, "LSB_FIRST "}, {SPI_CS_HIGH, "CS_HIGH "}, {SPI_3WIRE, "3WIRE "},
};

} // namespace

const char* spi_port_path(int port) {
    return port >= 0 && port < SPI_PORT_COUNT ? SPI_PORT_PATHS[port] : nullptr;
}

void spi_fail(const char* message) {
    std::perror(message);
    std::abort();
}

void spi_transfer_once(const char* path, const char* openFailMessage, spi_ioc_transfer& transfer,
                       int setModeZero) {
    int fd = open_path(path);
    if (fd < 0)
        spi_fail(openFailMessage);
    if (setModeZero == 1) {
        uint8_t mode = 0;
        hw_ioctl(fd, req(spi_request::wr_mode), &mode);
    }
    if (hw_ioctl(fd, req(spi_request::message_1), &transfer) < 1)
        spi_fail("can't send spi message");
    hw_close(fd);
}

int spi_write_path(const char* path, const char* openFailMessage, const uint8_t* buffer,
                   std::size_t length) {
    pthread_mutex_lock(&spiLock);
    // Never more than the transmit area holds, and never more of the caller's buffer than
    // the caller gave.
    const std::size_t count = length < SPI_TX_AREA_SIZE ? length : SPI_TX_AREA_SIZE;
    uint8_t tx[SPI_TX_AREA_SIZE] = {};
    uint8_t rx[SPI_RX_AREA_SIZE] = {};
    if (buffer != nullptr)
        std::memcpy(tx, buffer, count);

    spi_ioc_transfer transfer{};
    transfer.tx_buf = reinterpret_cast<uintptr_t>(tx);
    transfer.rx_buf = reinterpret_cast<uintptr_t>(rx);
    transfer.len = static_cast<uint32_t>(count);
    transfer.speed_hz = SPI_WRITE_SPEED_HZ;
    transfer.bits_per_word = SPI_WRITE_BITS;
    spi_transfer_once(path, openFailMessage, transfer, 0);
    // The received bytes are dropped.
    pthread_mutex_unlock(&spiLock);
    return 0;
}

int spi_write(int port, const uint8_t* buffer, std::size_t length) {
    return spi_write_path(spi_port_path(port), "can't open device", buffer, length);
}

void init_spi_mode(int port, int mode) {
    log_printf("%s:%d,%d\n", "init_spi_mode", port, mode);
    pthread_mutex_lock(&spiLock);
    int fd = open_path(spi_port_path(port));
    if (fd < 0)
        log_printf("can't open spidev.%d\n", port);

    // Read twice; the second reading is the one reported.
    uint8_t current = 0;
    for (int i = 0; i < 2; ++i) {
        current = 0;
        if (fd >= 0)
            hw_ioctl(fd, req(spi_request::rd_mode), &current);
    }
    if (current != 0)
        log_printf("\nSPI MODE : ");
    for (const mode_name& m : modeNames)
        if ((current & m.bit) != 0)
            log_printf("%s", m.name);
    log_printf("\n\n");

    if (fd >= 0)
        hw_close(fd);
    pthread_mutex_unlock(&spiLock);
}

void spi_set_mode(int fd, uint8_t mode) {
    if (hw_ioctl(fd, req(spi_request::wr_mode), &mode) == -1)
        spi_fail("can't set spi mode");
    uint8_t readBack = 0;
    if (hw_ioctl(fd, req(spi_request::rd_mode), &readBack) == -1)
        spi_fail("can't get spi mode");
    log_printf("spi mode: %d\n", readBack);
}

void spi_set_bits(int fd, uint8_t bits) {
    if (hw_ioctl(fd, req(spi_request::wr_bits), &bits) == -1)
        spi_fail("can't set bits per word");
    uint8_t readBack = 0;
    if (hw_ioctl(fd, req(spi_request::rd_bits), &readBack) == -1)
        spi_fail("can't get bits per word");
    log_printf("bits per word: %d\n", readBack);
}

void spi_set_speed(int fd, uint32_t hz) {
    if (hw_ioctl(fd, req(spi_request::wr_speed), &hz) == -1)
        spi_fail("can't set max speed hz");
    uint32_t readBack = 0;
    if (hw_ioctl(fd, req(spi_request::rd_speed), &readBack) == -1)
        spi_fail("can't get max speed hz");
    log_printf("max speed: %d Hz (%d KHz)\n", static_cast<int>(readBack),
               static_cast<int>(readBack / 1000));
}

void spi_setup_port(const char* path, uint8_t mode, uint8_t bits, uint32_t hz) {
    log_printf("init spi.....%s\n", path);
    int fd = hw_open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        spi_fail("can't open device");
    spi_set_mode(fd, mode);
    spi_set_bits(fd, bits);
    spi_set_speed(fd, hz);
    hw_close(fd);
}

void spi_setup_ports() {
    log_printf("init spi port!!!!!\n");
    spi_setup_port(SPI_PORT_PATHS[0], 0, 0, 0);
    spi_setup_port(SPI_PORT_PATHS[1], 0, 0, 0);
}
