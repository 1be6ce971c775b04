// The FPGA window: mapping, register access through the obtained address, byte lanes, board
// identity and the build date.
#include "board_trace.h"

#include "board/fpga.h"
#include "log/log.h"
#include "sim/sim.h"

#include <sys/mman.h>

namespace {

class Fpga : public ::testing::Test {
  protected:
    void SetUp() override { b.add_devices(); }
    // Maps the banks of a board with these registers; returns what the mapping logged.
    static std::string map_with(uint16_t boardId, uint16_t variant, uint16_t version,
                                uint16_t date = 0x1207, uint16_t day = 0x1500) {
        sim_board_conf conf = sim_conf();
        conf.boardId = boardId;
        conf.variant = variant;
        conf.fpgaVersion = version;
        conf.fpgaDate[0] = date;
        conf.fpgaDate[1] = day;
        sim_set_conf(conf);
        testing::internal::CaptureStdout();
        map_fpga_banks();
        return testing::internal::GetCapturedStdout();
    }
    board_dir b;
};
using FpgaDeathTest = Fpga;

TEST_F(Fpga, IdentityPredicatesReadTheirRegisters) {
    struct id_case {
        uint16_t id, variant, version;
        std::vector<int> expected; // 62, 64, T, R, version, over 0x1FF
    };
    const id_case cases[] = {
        {0x3632, 0x2D54, 0x0102, {1, 0, 1, 0, 258, 0}},
        {0x3634, 0x2D52, 0x0200, {0, 1, 0, 1, 512, 1}},
        {0x3633, 0x2D53, 0x01FF, {0, 0, 0, 0, 511, 0}},
        {0x3632, 0x2D54, 0x8000, {1, 0, 1, 0, -32768, 0}},
        {0x3632, 0x2D54, 0xFFFF, {1, 0, 1, 0, -1, 0}}, // the version is signed
    };
    for (const id_case& c : cases) {
        map_with(c.id, c.variant, c.version);
        EXPECT_EQ((std::vector<int>{board_id_is_62(), board_id_is_64(), board_variant_is_t(),
                                    board_variant_is_r(), fpga_version(), fpga_version_over_1ff()}),
                  c.expected)
            << std::hex << c.id << " " << c.variant << " " << c.version;
    }
    sim_fpga_set16(0x16, 0xBEEF);
    EXPECT_EQ(fpga_reg16_read(), 0xBEEFu);
    // Register 0x0E and bits 0 and 3 of register 0x30: td, clear, pick, bit 3 clear.
    const std::tuple<uint16_t, uint16_t, std::vector<int>> others[] = {
        {0x5444, 0x0001, {1, 0, 1, 1}},
        {0x0000, 0x0008, {0, 1, 2, 0}},
        {0x0001, 0x0000, {0, 0, 2, 1}}};
    for (const auto& [reg0e, reg30, expected] : others) {
        sim_fpga_set16(0x0E, reg0e);
        sim_fpga_set16(0x30, reg30);
        EXPECT_EQ((std::vector<int>{fpga_reg0e_is_td(), fpga_reg0e_is_clear(),
                                    fpga_reg30_bit0_pick(), fpga_reg30_bit3_clear()}),
                  expected)
            << reg0e << " " << reg30;
    }
}

TEST_F(Fpga, BuildDateIsDecodedLoggedAndComparedAsADate) {
    map_with(0x3632, 0x2D54, 0x0102, 0x1207, 0x1500); // 2012-07-15
    testing::internal::CaptureStdout();
    fpga_build_date d = fpga_build_date_read();
    print_fpga_version();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "fpga version is 2012/7/15\n\n\nFPGA_Version:12071500\n");
    EXPECT_EQ(std::vector<int>({d.year, d.month, d.day}), std::vector<int>({2012, 7, 15}));
    EXPECT_EQ(fpga_date_equals(0x1207, 0x15FF), 1); // the low byte of the day word is ignored
    EXPECT_EQ(fpga_date_equals(0x1207, 0x1600), 0);
    EXPECT_EQ(fpga_date_equals(0x1208, 0x1500), 0);
    // {year, month, day, not after, at least}
    const int cases[][5] = {
        {2012, 7, 15, 1, 1},  {2012, 7, 16, 1, 0}, {2012, 7, 14, -1, 1}, {2012, 8, 1, 1, 0},
        {2012, 6, 30, -1, 1}, {2013, 1, 1, 1, 0},  {2013, 6, 30, 1, 0},  {2011, 12, 31, -1, 1},
    };
    testing::internal::CaptureStdout();
    for (const auto& c : cases) {
        EXPECT_EQ(fpga_date_not_after(c[0], c[1], c[2]), c[3])
            << c[0] << "-" << c[1] << "-" << c[2];
        EXPECT_EQ(fpga_date_at_least(c[0], c[1], c[2]), c[4]) << c[0] << "-" << c[1] << "-" << c[2];
    }
    sim_fpga_set16(0x0A, 0x1A01); // a nibble above 9 counts with its plain value
    EXPECT_EQ(fpga_build_date_read().year, 2020);
    testing::internal::GetCapturedStdout();
}

TEST_F(Fpga, AccessorsUseTheAddressObtainedWhenBankTwoIsMappedElsewhere) {
    // Whatever happened before, after this the requested address is taken.
    void* blocker = mmap(reinterpret_cast<void*>(FPGA_WINDOW), 4096, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(blocker, MAP_FAILED);
    std::string out = map_with(0x3632, 0x2D54, 0x0103);
    EXPECT_NE(out.find("Can't match Bank2(38000000)\n"), std::string::npos) << out;
    EXPECT_EQ(fpga_version(), 259);
    fpga_write16(fpga_addr(fpga_reg::control), 0x1235);
    EXPECT_EQ(sim_fpga_get16(0x22), 0x1235);
    EXPECT_EQ(fpga_read16(fpga_addr(fpga_reg::control)), 0x1235);
    if (blocker != reinterpret_cast<void*>(FPGA_WINDOW))
        munmap(blocker, 4096);
}

TEST_F(Fpga, ByteLanesAndAddressesOutsideTheWindow) {
    map_with(0x3632, 0x2D54, 0x0102);
    volatile uint8_t* base = sim_fpga_bank2();
    auto word = [base]() { return *reinterpret_cast<volatile uint32_t*>(base + 0x100); };
    fpga_write32(FPGA_WINDOW + 0x102, 0x11223344); // the two low address bits are cleared
    EXPECT_EQ(word(), 0x11223344u);
    fpga_or_byte(FPGA_WINDOW + 0x100, 0x80); // lane 0: bits 31..24
    fpga_or_byte(FPGA_WINDOW + 0x101, 0x80); // lane 1: bits 23..16
    fpga_or_byte(FPGA_WINDOW + 0x103, 0x80); // lane 3: bits 7..0
    EXPECT_EQ(word(), 0x91A233C4u);
    sim_fpga_set8(0x270D, 0x7F);
    EXPECT_EQ(fpga_read8(fpga_addr(fpga_reg::pending)), 0x7F);
    EXPECT_EQ(fpga_read16(FPGA_WINDOW - 2), 0);
    EXPECT_EQ(fpga_read16(FPGA_WINDOW + FPGA_WINDOW_SIZE), 0);
    EXPECT_EQ(fpga_read16(FPGA_WINDOW + 0x09), 0); // misaligned read of the version
    fpga_write16(FPGA_WINDOW + FPGA_WINDOW_SIZE, 0xFFFF);
    fpga_write16(FPGA_WINDOW + FPGA_WINDOW_SIZE - 1, 0xFFFF); // misaligned: no register
    fpga_write16(FPGA_WINDOW + 0x23, 0xFFFF);
    EXPECT_EQ(sim_fpga_get16(FPGA_WINDOW_SIZE - 2), 0);
    EXPECT_EQ(sim_fpga_get16(0x22), 0);
    EXPECT_EQ(sim_fpga_get16(0x24), 0);
}

// Forked in place: the child writes the log of this very board.
TEST_F(FpgaDeathTest, NoMemoryDeviceOrNoBankTwoEndsTheProcessWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "fast");
    log_to_file();
    ASSERT_EQ(log_set_path("/tmp/log"), 1);
    sim_fpga_fail_mapping(0xF8000000ULL, true);
    EXPECT_EXIT(map_fpga_banks(), testing::ExitedWithCode(0), "");
    sim_fpga_fail_mapping(0xF8000000ULL, false);
    b.remove("/dev/mem");
    EXPECT_EXIT(map_fpga_banks(), testing::ExitedWithCode(0), "");
    log_to_screen();
    const std::string log = b.read("/tmp/log");
    EXPECT_NE(log.find("] Can't match Bank2(38000000)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] Error: FPGA bank 2 cannot be mapped, stopping\n"), std::string::npos);
    EXPECT_NE(log.find("] Error: /dev/kmem does not exist\n"), std::string::npos) << log;
}

} // namespace
