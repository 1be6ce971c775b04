// The optional AK5701 set-up. Against init_ak5701 it logs nothing of its own, has no repeated
// power-up block after the rate code, waits 10 ms after the rate step and after register
// 0x19, leaves the gain register alone and sets register 0x12 from its flag first.
#include "util/ak5701_ext.h"

#include "board/ak5701.h"
#include "board/spi.h"

#include <cstdint>
#include <unistd.h>

namespace {

constexpr unsigned SETTLE_WAIT_US = 10000;
constexpr uint8_t INPUT_FLAGGED = 0x15;

void write_reg(int port, ak5701_reg reg, uint8_t value) {
    ak5701_write(port, static_cast<uint8_t>(reg), value);
}

void write_wait(int port, ak5701_reg reg, uint8_t value, unsigned waitUs) {
    write_reg(port, reg, value);
    usleep(waitUs);
}

void rate_step(int port, int rate, int hi) {
    const int code = ak5701_rate_code(rate);
    if (code < 0)
        return;
    const uint8_t high = static_cast<uint8_t>((hi & 3) << 6);
    write_reg(port, ak5701_reg::rate, static_cast<uint8_t>(high | code));
    if (rate == 8000) {
        usleep(SETTLE_WAIT_US);
        write_reg(port, ak5701_reg::setup, ak5701_setup_value_8000());
    }
}

} // namespace

void init_ak5701_ext(int port, int rate, int hi, int input, int flag) {
    init_spi_mode(port, 0);

    ak5701_power_up(port);

    rate_step(port, rate, hi);
    usleep(SETTLE_WAIT_US); // every rate, a code written or not

    write_reg(port, ak5701_reg::set18, 0xA1);
    write_wait(port, ak5701_reg::set19, 0xA1, SETTLE_WAIT_US);
    write_reg(port, ak5701_reg::input, flag != 0 ? INPUT_FLAGGED : AK5701_INPUT_DEFAULT);
    ak5701_select_and_power(port, input);
}
