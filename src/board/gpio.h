// The codec GPIO lines behind the board's driver /dev/codec-gpio1.
#pragma once

#include <cstdint>

inline constexpr const char* GPIO_DEVICE_PATH = "/dev/codec-gpio1";

// Bits 31..24 of a request word: the command; bits 15..0: the line.
enum class gpio_command : uint32_t {
    setup = 0x00000000,
    read = 0x01000000,
    drive = 0x02000000,
};

// The request word for a command on a line (the low 16 bits of line).
constexpr unsigned long gpio_request(gpio_command command, int line) {
    return static_cast<unsigned long>(static_cast<uint32_t>(command) |
                                      (static_cast<uint32_t>(line) & 0xFFFFu));
}

// The set-up argument word: b in bits 31..24, the low byte of a in bits 23..16.
constexpr unsigned long gpio_setup_word(int a, int b) {
    return static_cast<unsigned long>((static_cast<uint32_t>(b) << 24) |
                                      ((static_cast<uint32_t>(a) & 0xFFu) << 16));
}

// Drives the line to value. Nothing is reported but a failed open.
void gpio_set(int line, int value);
// The line's state as the driver wrote it; 0 when the driver wrote nothing.
int gpio_get(int line);
// Configures a line; what a and b mean is the driver's.
void gpio_setup(int line, int a, int b);
