// Helpers of the board tests: traced boards and the trace lines of their transactions.
#pragma once

#include "board/fpga.h"
#include "log/log.h"
#include "support/board_dir.h"

#include <cstdio>

// An AK5701 register write as it shows in the trace: 0xA0 | reg, then the value.
inline std::string ak_write(unsigned reg, unsigned value) {
    char text[24];
    std::snprintf(text, sizeof text, "%02x%02x", (0xA0u | reg) & 0xFFu, value & 0xFFu);
    return text;
}

inline std::string i2c_write_line(unsigned addr, unsigned reg, unsigned value) {
    char text[80];
    std::snprintf(text, sizeof text, "/dev/i2c-sw 0x2 addr=0x%x reg=0x%x len=0x1 data=%02x", addr,
                  reg, value);
    return text;
}

// A board with every device node, a trace and these hardware settings, its FPGA mapped; what
// the mapping logged.
inline std::string map_board(const board_dir& b, const std::string& conf = "") {
    b.add_devices();
    b.configure("trace=trace.log\n" + conf);
    log_to_screen();
    return stdout_of(map_fpga_banks);
}
