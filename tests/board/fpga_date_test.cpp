// The FPGA build date: decoded from BCD registers, compared with given dates as dates.
#include "board/fpga.h"
#include "sim/sim.h"
#include "support/board_dir.h"

namespace {

struct date_board {
    date_board() {
        b.add_devices();
        testing::internal::CaptureStdout();
        map_fpga_banks();
        testing::internal::GetCapturedStdout();
    }
    void set(uint16_t dateWord, uint16_t dayWord) {
        sim_fpga_set16(0x0A, dateWord);
        sim_fpga_set16(0x0C, dayWord);
    }
    board_dir b;
};

int not_after(int y, int m, int d) {
    testing::internal::CaptureStdout();
    int r = fpga_date_not_after(y, m, d);
    testing::internal::GetCapturedStdout();
    return r;
}

int at_least(int y, int m, int d) {
    testing::internal::CaptureStdout();
    int r = fpga_date_at_least(y, m, d);
    testing::internal::GetCapturedStdout();
    return r;
}

TEST(FpgaDate, DecodesAndLogsTheBuildDate) {
    date_board b;
    b.set(0x1207, 0x1500);
    testing::internal::CaptureStdout();
    fpga_build_date d = fpga_build_date_read();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "fpga version is 2012/7/15\n");
    EXPECT_EQ(d.year, 2012);
    EXPECT_EQ(d.month, 7);
    EXPECT_EQ(d.day, 15);
    testing::internal::CaptureStdout();
    print_fpga_version();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\nFPGA_Version:12071500\n");
    // A nibble above 9 counts with its plain value.
    b.set(0x1A01, 0x0100);
    testing::internal::CaptureStdout();
    EXPECT_EQ(fpga_build_date_read().year, 2020);
    testing::internal::GetCapturedStdout();
}

TEST(FpgaDate, NotAfterComparesYearThenMonthThenDay) {
    date_board b;
    b.set(0x1207, 0x1500); // 2012-07-15
    EXPECT_EQ(not_after(2012, 12, 31), 1);
    EXPECT_EQ(not_after(2013, 6, 30), 1); // a later year decides, whatever its month
    EXPECT_EQ(not_after(2012, 7, 15), 1);
    EXPECT_EQ(not_after(2012, 7, 14), -1);
    EXPECT_EQ(not_after(2012, 6, 30), -1);
    EXPECT_EQ(not_after(2011, 12, 31), -1);
    b.set(0x1001, 0x1500); // 2010-01-15
    EXPECT_EQ(not_after(2011, 12, 10), 1);
    EXPECT_EQ(not_after(2010, 2, 1), 1);
    EXPECT_EQ(not_after(2009, 12, 31), -1);
}

TEST(FpgaDate, AtLeastComparesYearThenMonthThenDay) {
    date_board b;
    b.set(0x1207, 0x1500);
    EXPECT_EQ(at_least(2012, 7, 15), 1);
    EXPECT_EQ(at_least(2012, 7, 16), 0);
    EXPECT_EQ(at_least(2011, 12, 31), 1);
    EXPECT_EQ(at_least(2013, 1, 1), 0);
    EXPECT_EQ(at_least(2012, 6, 30), 1);
}

} // namespace
