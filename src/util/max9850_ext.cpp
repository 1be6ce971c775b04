// MAX9850 set-up and rate switch of the board library, each write a complete I2C transaction
// whose outcome is not reported.
#include "util/max9850_ext.h"

#include "board/max9850.h"
#include "log/log.h"

#include <cstdint>

void init_max9850_plain(int addr, int rate) {
    log_printf("init MAX9850 (%dHz) \n", rate);
    max9850_setup_writes(addr, rate, 1);
}

void max9850_set_rate(int addr, int rate) {
    const auto enable = static_cast<uint8_t>(max9850_reg::enable);
    const auto chargePump = static_cast<uint8_t>(max9850_reg::charge_pump);
    max9850_write(addr, enable, MAX9850_ENABLE_SETUP);
    switch (rate) {
    case 8000:
    case 32000:
        break;
    case 44100:
        max9850_write(addr, chargePump, 0x48);
        break;
    default:
        max9850_write(addr, chargePump, 0x49);
        break;
    }
    max9850_write(addr, enable, MAX9850_ENABLE_RUN);
}
