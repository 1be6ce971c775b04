// Programming of the ICS307 clock synthesiser: the caller's bytes in one SPI transfer on the
// port that the board wires it to.
#pragma once

#include <cstddef>
#include <cstdint>

// The port of the synthesiser on this board, with the number of the marker line "....N" that
// ics307_program logs.
struct ics307_port {
    int port;
    int marker;
};
// Not a 0x3632 board: "....3", port 1; FPGA version 259 or less: "....2", port 1; variant
// 0x2D52: "....1", port 2; otherwise "....2", port 1.
ics307_port ics307_port_choice();

// Under spiLock: logs the marker, opens the port, sets SPI mode 0 (its outcome is not looked
// at) and sends length bytes of buffer as they are, at 500 kHz, receiving nothing. Ends the
// process with "can't open ics307" when the port cannot be opened, and when the transfer
// fails. Returns 0.
int ics307_program(const uint8_t* buffer, std::size_t length);
