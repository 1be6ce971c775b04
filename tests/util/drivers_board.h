// Helpers of the chip and bus driver tests: a traced simulated board, request numbers as the
// trace shows them, and a probe that sees whether spiLock is held at each SPI request.
#pragma once

#include "board/board_trace.h"

#include "board/fpga.h"
#include "board/spi.h"
#include "log/log.h"
#include "sim/devices.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

// A request number as the trace writes it ("0x40206b00" on the host, "0x80206b00" on PowerPC).
inline std::string request_text(unsigned long request) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lx", request);
    return text;
}
inline std::string spi_message_line(int port, const std::string& details) {
    return "/dev/spidev." + std::to_string(port) + " " +
           request_text(static_cast<unsigned long>(spi_request::message_1)) + " " + details;
}
inline std::string spi_mode_zero_line(int port) {
    return "/dev/spidev." + std::to_string(port) + " " +
           request_text(static_cast<unsigned long>(spi_request::wr_mode)) + " mode=0x0";
}

// A traced board with the given hardware settings, its FPGA mapped (the identity predicates
// read it) and logging to standard output.
inline void use_driver_board(const board_dir& b, const std::string& conf = "") {
    make_traced_board(b, conf);
    log_to_screen();
    testing::internal::CaptureStdout();
    map_fpga_banks();
    testing::internal::GetCapturedStdout();
}

// Counts SPI requests, and those issued while spiLock was free, through the board's hook.
struct spi_lock_probe {
    static inline std::atomic<int> seen{0};
    static inline std::atomic<int> unlocked{0};
    static void check(const char*) {
        ++seen;
        if (pthread_mutex_trylock(&spiLock) == 0) {
            ++unlocked;
            pthread_mutex_unlock(&spiLock);
        }
    }
    // Installs the probe; install again after a board is attached anew.
    static void install() {
        seen = 0;
        unlocked = 0;
        sim_set_spi_request_hook(&check);
    }
};
