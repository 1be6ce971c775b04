// Fixed-port AK5701 sends: spi_write's transaction on a port chosen here, not by the caller.
#include "util/ak5701_send.h"

#include "board/spi.h"

namespace {

constexpr const char* OPEN_ERROR = "can't open ak5701\n";

} // namespace

int ak5701_send_port2(const uint8_t* buffer, std::size_t length) {
    return spi_write_path(SPI_PORT_PATHS[2], OPEN_ERROR, buffer, length);
}

int ak5701_send_port1(const uint8_t* buffer, std::size_t length) {
    return spi_write_path(SPI_PORT_PATHS[1], OPEN_ERROR, buffer, length);
}
