// The codec GPIO requests: each operation opens the driver, issues one request and closes.
#include "board/gpio.h"

#include "hw/hw.h"

#include <cstdio>
#include <fcntl.h>

namespace {

int open_gpio(bool report) {
    int fd = hw_open(GPIO_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0 && report) {
        std::printf("can't open device");
        std::fflush(stdout);
    }
    return fd;
}

} // namespace

void gpio_set(int line, int value) {
    int fd = open_gpio(true);
    hw_ioctl_value(fd, gpio_request(gpio_command::drive, line), static_cast<unsigned long>(value));
    hw_close(fd);
}

int gpio_get(int line) {
    int fd = open_gpio(true);
    int32_t state = 0;
    hw_ioctl(fd, gpio_request(gpio_command::read, line), &state);
    hw_close(fd);
    return state;
}

void gpio_setup(int line, int a, int b) {
    int fd = open_gpio(false);
    hw_ioctl_value(fd, gpio_request(gpio_command::setup, line), gpio_setup_word(a, b));
    hw_close(fd);
}
