// A simulated board directory for unit tests: made fresh in /tmp, attached, removed after.
#pragma once

#include "board/spi.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

using lines = std::vector<std::string>;

class board_dir {
  public:
    // Without dirs: an empty directory, for a board that scripts/new-board lays out.
    explicit board_dir(bool dirs = true);
    ~board_dir();
    board_dir(const board_dir&) = delete;
    board_dir& operator=(const board_dir&) = delete;

    const std::string& root() const { return root_; }
    // The file behind a logical path, "/var/obraBi_para" -> R/var/obraBi_para.
    std::string path(const std::string& logical) const { return root_ + logical; }
    void write(const std::string& logical, const std::string& content, int mode = 0644) const;
    std::string read(const std::string& logical) const;
    bool exists(const std::string& l) const { return access(path(l).c_str(), F_OK) == 0; }
    void remove(const std::string& logical) const { unlink(path(logical).c_str()); }
    // Creates the device node files of a complete board.
    void add_devices() const;
    // Writes R/sim/board.conf and attaches again so that it takes effect.
    void configure(const std::string& boardConf) const;
    // The lines of the board's trace (R/sim/trace.log) that start with prefix, in order.
    lines traced(const std::string& prefix = "") const;

  private:
    std::string root_;
};

std::string read_file(const std::string& path);

// What a local user can put at a fixed path under /tmp in place of the process's own file:
// plant(target, at) makes it; 0 when it was made.
struct planted_kind {
    const char* name;
    int (*plant)(const std::string& target, const std::string& at);
};
extern const planted_kind plants[3]; // a symbolic link, a FIFO, a hard link to the target

inline lines words(const std::string& text) {
    std::istringstream in(text);
    return lines(std::istream_iterator<std::string>(in), {});
}

// A request number as the trace writes it: lower-case hex with 0x.
inline std::string hex_text(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

// The start of the trace line of a request on an SPI port (request numbers differ by host).
inline std::string spi_line(int port, spi_request r = spi_request::message_1) {
    return "/dev/spidev." + std::to_string(port) + " " + hex_text(static_cast<unsigned long>(r));
}

// The transmit bytes (hex) of every SPI transfer on a port, in order.
lines spi_tx(const board_dir& b, int port);

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Waits, polling, until done() holds or a generous bound passes; the result of done().
inline bool wait_for(const std::function<bool()>& done, int seconds = 60) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > until)
            return false;
    return true;
}

inline long open_descriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// What body printed on standard output (on standard error with err).
inline std::string stdout_of(const std::function<void()>& body, bool err = false) {
    err ? testing::internal::CaptureStderr() : testing::internal::CaptureStdout();
    body();
    return err ? testing::internal::GetCapturedStderr() : testing::internal::GetCapturedStdout();
}
