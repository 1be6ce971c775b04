// The utility tests' board, laid out by scripts/new-board as a user gets it, and its trace.
#pragma once

#include "board/fpga.h"
#include "board/spi.h"
#include "log/log.h"
#include "sim/devices.h"
#include "sim/sim.h"
#include "support/board_dir.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include <gtest/gtest.h>

namespace ut {

// SPI requests on a board made with a configuration, and those issued while spiLock was free.
inline std::atomic<int> spi_seen{0}, spi_unlocked{0};

class board : public board_dir {
  public:
    // With conf: the board has these hardware settings, its FPGA mapped and its SPI counted.
    explicit board(const char* conf = nullptr) : board_dir(false) {
        const std::string make = "'" OBRABI_SOURCE_DIR "/scripts/new-board' '" + root() + "'";
        EXPECT_EQ(std::system((make + " > /dev/null").c_str()), 0) << make;
        EXPECT_EQ(sim_attach(root().c_str()), 1);
        log_to_screen();
        if (conf != nullptr) {
            configure(std::string("trace=trace.log\n") + conf);
            stdout_of(map_fpga_banks);
            spi_seen = spi_unlocked = 0;
            sim_set_spi_request_hook([](const char*) {
                ++spi_seen;
                if (pthread_mutex_trylock(&spiLock) == 0 && ++spi_unlocked)
                    pthread_mutex_unlock(&spiLock);
            });
        }
    }
    // Puts a recording tool in place of a tool: every run appends "argc=N" and then its
    // arguments, one a line, to the file it returns.
    std::string recorder(const std::string& tool) const {
        std::string log = "/tmp/" + tool.substr(tool.rfind('/') + 1) + ".argv";
        write(tool,
              "#!/bin/sh\n{ echo \"argc=$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } "
              ">> '" +
                  path(log) + "'\n",
              0755);
        return log;
    }
};

// A whole SPI request line of the trace.
inline std::string spi_line(int port, const std::string& details,
                            spi_request request = spi_request::message_1) {
    return ::spi_line(port, request) + " " + details;
}

} // namespace ut
