// GV760x register access over spidev: command word and value go out most significant byte
// first; the chip answers a read in the last two bytes of the same transfer.
#include "util/gv760x.h"

#include "board/spi.h"

namespace {

constexpr const char* OPEN_ERROR = "can't open gv760x\n";

// One locked transfer of the four bytes; the four received bytes land in rx.
void exchange(uint16_t cmd, uint16_t value, uint8_t (&rx)[SPI_RX_AREA_SIZE]) {
    pthread_mutex_lock(&spiLock);
    uint8_t tx[GV760X_TRANSFER_LENGTH] = {
        static_cast<uint8_t>(cmd >> 8),
        static_cast<uint8_t>(cmd),
        static_cast<uint8_t>(value >> 8),
        static_cast<uint8_t>(value),
    };
    for (uint8_t& b : rx)
        b = 0;
    spi_ioc_transfer transfer{};
    transfer.tx_buf = reinterpret_cast<uintptr_t>(tx);
    transfer.rx_buf = reinterpret_cast<uintptr_t>(rx);
    transfer.len = GV760X_TRANSFER_LENGTH;
    transfer.speed_hz = GV760X_SPEED_HZ;
    transfer.bits_per_word = SPI_WRITE_BITS;
    spi_transfer_once(spi_port_path(GV760X_SPI_PORT), OPEN_ERROR, transfer, 0);
    pthread_mutex_unlock(&spiLock);
}

} // namespace

int gv760x_read(const uint16_t& cmd, uint16_t& out) {
    uint8_t rx[SPI_RX_AREA_SIZE];
    exchange(cmd, 0, rx);
    out = static_cast<uint16_t>((rx[2] << 8) | rx[3]);
    return 0;
}

int gv760x_write(const uint16_t& cmd, const uint16_t& value) {
    uint8_t rx[SPI_RX_AREA_SIZE];
    exchange(cmd, value, rx); // what the chip answers to a write is dropped
    return 0;
}
