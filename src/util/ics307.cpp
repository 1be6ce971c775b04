// ICS307 programming. The bytes are sent exactly as the caller prepared them; the
// synthesiser's settings are composed elsewhere.
#include "util/ics307.h"

#include "board/fpga.h"
#include "board/spi.h"
#include "log/log.h"

#include <cstdint>

namespace {

constexpr const char* OPEN_ERROR = "can't open ics307\n";

} // namespace

ics307_port ics307_port_choice() {
    if (board_id_is_62() != 1)
        return {1, 3};
    if (fpga_version() <= 259)
        return {1, 2};
    if (board_variant_is_r() == 1)
        return {2, 1};
    return {1, 2};
}

int ics307_program(const uint8_t* buffer, std::size_t length) {
    pthread_mutex_lock(&spiLock);
    const ics307_port choice = ics307_port_choice();
    // The line end is in the format itself: the logger starts the next line with its prefix.
    log_printf("....%d\n", choice.marker);

    spi_ioc_transfer transfer{};
    transfer.tx_buf = reinterpret_cast<uintptr_t>(buffer);
    transfer.rx_buf = 0; // the synthesiser answers nothing
    // A length the record cannot carry is sent as none, which the port refuses, rather than
    // as a shortened prefix.
    transfer.len = length <= UINT32_MAX ? static_cast<uint32_t>(length) : 0;
    transfer.speed_hz = SPI_WRITE_SPEED_HZ;
    transfer.bits_per_word = SPI_WRITE_BITS;
    spi_transfer_once(spi_port_path(choice.port), OPEN_ERROR, transfer, 1);
    pthread_mutex_unlock(&spiLock);
    return 0;
}
