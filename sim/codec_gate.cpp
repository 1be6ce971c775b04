// Whether the simulated codec hears and plays: the bring-up rules of the board.
//
// Capture carries the source once the ADC on SPI port 1 was programmed for 8000 Hz (rate
// code 0x20 in register 0x15, power register 0x10 at 0x07: everything on) and the codec
// runs. The codec runs on FPGA versions above 257 while control register 0x22 bit 0 is set;
// on versions up to 257 while GPIO line 11 (variant board 0x2D54) or line 6 (other boards)
// is driven non-zero. Playback reaches the sink once the MAX9850 at the board's address
// holds 0xFD in its enable register 0x05.
#include "sim/devices.h"
#include "sim/sim.h"

namespace {

constexpr int ADC_PORT = 1;
constexpr int AK_POWER = 0x10;
constexpr int AK_RATE = 0x15;
constexpr int AK_RATE_8000 = 0x20;
constexpr int AK_POWER_ALL = 0x07;
constexpr uint32_t CONTROL = 0x22;
constexpr int MAX_ENABLE = 0x05;
constexpr int MAX_RUN = 0xFD;

} // namespace

int sim_capture_enabled() {
    const bool adcReady = sim_ak5701_reg(ADC_PORT, AK_RATE) == AK_RATE_8000 &&
                          sim_ak5701_reg(ADC_PORT, AK_POWER) == AK_POWER_ALL;
    const sim_board_conf& c = sim_conf();
    const int version = static_cast<int16_t>(c.fpgaVersion);
    bool running;
    if (version > 257)
        running = (sim_fpga_get16(CONTROL) & 1) != 0;
    else
        running = sim_gpio_line(c.variant == 0x2D54 ? 11 : 6) != 0;
    return adcReady && running ? 1 : 0;
}

int sim_playback_enabled() {
    return sim_max9850_reg(MAX_ENABLE) == MAX_RUN ? 1 : 0;
}

void sim_reset_chips() {
    sim_spidev_reset();
    sim_i2c_reset();
    sim_gpio_reset();
    sim_codec_reset();
    sim_spisw_reset();
    sim_audio_reset();
}
