// Fixed-port AK5701 sends: the caller's bytes on the fixed port, at most the two-byte
// transmit area.
#include "drivers_board.h"

#include "util/ak5701_send.h"

namespace {

class Ak5701Send : public ::testing::Test {
  protected:
    void SetUp() override {
        use_driver_board(b);
        spi_lock_probe::install();
    }
    board_dir b;
};

TEST_F(Ak5701Send, EachSendsTheCallersBytesOnItsOwnPort) {
    const uint8_t bytes[2] = {0xB1, 0x35};
    EXPECT_EQ(ak5701_send_port1(bytes, 2), 0);
    const uint8_t more[2] = {0xB5, 0x2B};
    EXPECT_EQ(ak5701_send_port2(more, 2), 0);
    EXPECT_EQ(ak5701_send_port2(more, 1), 0);
    EXPECT_EQ(lines_with(b, "/dev/spidev."),
              (std::vector<std::string>{
                  spi_message_line(1, "len=0x2 speed=0x7a120 bits=0x8 tx=b135"),
                  spi_message_line(2, "len=0x2 speed=0x7a120 bits=0x8 tx=b52b"),
                  spi_message_line(2, "len=0x1 speed=0x7a120 bits=0x8 tx=b5"),
              }));
    EXPECT_EQ(bytes[0], 0xB1);
    EXPECT_EQ(bytes[1], 0x35);
    EXPECT_EQ(sim_ak5701_reg(1, 0x11), 0x35);
    EXPECT_EQ(sim_ak5701_reg(2, 0x15), 0x2B);
    EXPECT_EQ(sim_ak5701_reg(2, 0x11), 0x00);
    EXPECT_EQ(spi_lock_probe::seen, 3);
    EXPECT_EQ(spi_lock_probe::unlocked, 0);
}

TEST_F(Ak5701Send, LongerLengthSendsOnlyTheTwoByteTransmitArea) {
    const uint8_t bytes[6] = {0xB0, 0x07, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(ak5701_send_port1(bytes, sizeof bytes), 0);
    EXPECT_EQ(ak5701_send_port2(bytes, 300), 0);
    EXPECT_EQ(spi_tx(b, 1), (std::vector<std::string>{"b007"}));
    EXPECT_EQ(spi_tx(b, 2), (std::vector<std::string>{"b007"}));
    EXPECT_EQ(sim_ak5701_reg(1, 0x10), 0x07);
}

} // namespace
