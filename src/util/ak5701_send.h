// Raw writes to the AK5701 on a fixed spidev port, named after the chip in their failures.
#pragma once

#include <cstddef>
#include <cstdint>

// spi_write on port 2 (ak5701_send_port2) or port 1 (ak5701_send_port1): the first bytes of
// buffer (length 1 or 2; a longer length sends the two the transmit area holds) as one
// transfer at 500 kHz. Ends the process with "can't open ak5701" when the port cannot be
// opened, and when the transfer fails. Returns 0.
int ak5701_send_port2(const uint8_t* buffer, std::size_t length);
int ak5701_send_port1(const uint8_t* buffer, std::size_t length);
