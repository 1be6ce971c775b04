// ICS307 programming: the port and marker line per board, SPI mode 0 before the transfer, and
// the caller's bytes sent whole.
#include "drivers_board.h"

#include "util/ics307.h"

namespace {

struct board_case {
    const char* conf;
    const char* marker;
    int port;
};

// A 132-bit programming word in 17 bytes, far more than the AK5701 writes.
const uint8_t word[17] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x10,
                          0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0xF0};
constexpr const char* wordHex = "0123456789abcdef1032547698badcfef0";

TEST(Ics307, PortAndMarkerFollowTheBoard) {
    const board_case cases[] = {
        {"board_id=0x3634\nvariant=0x2D52\nfpga_version=0x0104\n", "....3\n", 1},
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0104\n", "....1\n", 2},
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x0103\n", "....2\n", 1},
        {"board_id=0x3632\nvariant=0x2D54\nfpga_version=0x0104\n", "....2\n", 1},
        // A negative version counts as old.
        {"board_id=0x3632\nvariant=0x2D52\nfpga_version=0x8104\n", "....2\n", 1},
    };
    for (const board_case& c : cases) {
        board_dir b;
        use_driver_board(b, c.conf);
        spi_lock_probe::install();
        testing::internal::CaptureStdout();
        EXPECT_EQ(ics307_program(word, sizeof word), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.marker) << c.conf;
        EXPECT_EQ(lines_with(b, "/dev/spidev."),
                  (std::vector<std::string>{
                      spi_mode_zero_line(c.port),
                      spi_message_line(c.port, std::string("len=0x11 speed=0x7a120 bits=0x8 tx=") +
                                                   wordHex),
                  }))
            << c.conf;
        EXPECT_EQ(spi_lock_probe::unlocked, 0);
        EXPECT_EQ(pthread_mutex_trylock(&spiLock), 0);
        pthread_mutex_unlock(&spiLock);
    }
}

TEST(Ics307, FailedModeSettingIsNotNoticed) {
    board_dir b;
    use_driver_board(b); // a 0x3632 board with FPGA version 0x0102: port 1
    sim_spidev_fail_settings(1, true);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ics307_program(word, 3), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "....2\n");
    EXPECT_EQ(lines_with(b, "/dev/spidev."),
              (std::vector<std::string>{
                  "/dev/spidev.1 " +
                      request_text(static_cast<unsigned long>(spi_request::wr_mode)) + " fail",
                  spi_message_line(1, "len=0x3 speed=0x7a120 bits=0x8 tx=012345"),
              }));
}

} // namespace
