// Helpers of the board tests: the simulated board's request trace as lists of transactions.
#pragma once

#include "board/fpga.h"
#include "log/log.h"
#include "support/board_dir.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

// A request number as the trace writes it: lower-case hex with 0x.
inline std::string hex_text(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

// A board with every device node and a trace, attached.
inline void make_traced_board(const board_dir& b, const std::string& extraConf = "") {
    b.add_devices();
    b.configure("trace=trace.log\n" + extraConf);
}

inline std::vector<std::string> trace_lines(const board_dir& b) {
    std::vector<std::string> lines;
    std::istringstream in(b.read("/sim/trace.log"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Trace lines that start with prefix.
inline std::vector<std::string> lines_with(const board_dir& b, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : trace_lines(b))
        if (l.rfind(prefix, 0) == 0)
            out.push_back(l);
    return out;
}

// The transmit bytes (hex) of every SPI transfer on a port, in order.
inline std::vector<std::string> spi_tx(const board_dir& b, int port) {
    std::vector<std::string> out;
    for (const std::string& l : lines_with(b, "/dev/spidev." + std::to_string(port) + " "))
        if (std::size_t at = l.find(" tx="); at != std::string::npos)
            out.push_back(l.substr(at + 4));
    return out;
}

// An AK5701 register write as it shows in the trace: 0xA0 | reg, then the value.
inline std::string ak_write(unsigned reg, unsigned value) {
    char text[24];
    std::snprintf(text, sizeof text, "%02x%02x", (0xA0u | reg) & 0xFFu, value & 0xFFu);
    return text;
}

// An I2C write of one byte as it shows in the trace.
inline std::string i2c_write_line(unsigned addr, unsigned reg, unsigned value) {
    char text[80];
    std::snprintf(text, sizeof text, "/dev/i2c-sw 0x2 addr=0x%x reg=0x%x len=0x1 data=%02x", addr,
                  reg, value);
    return text;
}

// Waits, polling, until done() holds or a generous bound passes; the result of done().
inline bool wait_for(const std::function<bool()>& done, int seconds = 60) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > until)
            return false;
    return true;
}

// A traced board with these hardware settings, its FPGA mapped; what the mapping logged.
inline std::string map_board(const board_dir& b, const std::string& conf = "") {
    make_traced_board(b, conf);
    log_to_screen();
    return stdout_of(map_fpga_banks);
}
