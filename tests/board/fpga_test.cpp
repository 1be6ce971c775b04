// The FPGA window: mapping, register access through the obtained address, board identity.
#include "board/fpga.h"

#include "log/log.h"
#include "sim/sim.h"
#include "support/board_dir.h"

#include <string>
#include <sys/mman.h>

namespace {

class FpgaTest : public ::testing::Test {
  protected:
    void SetUp() override { board.add_devices(); }
    // Maps the banks of a board with these registers; returns what the mapping logged.
    std::string map_with(uint16_t boardId, uint16_t variant, uint16_t version,
                         uint16_t date = 0x2601, uint16_t day = 0x1500) {
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

    board_dir board;
};

TEST_F(FpgaTest, IdentityPredicatesReadTheirRegisters) {
    map_with(0x3632, 0x2D54, 0x0102);
    EXPECT_EQ(board_id_is_62(), 1);
    EXPECT_EQ(board_id_is_64(), 0);
    EXPECT_EQ(board_variant_is_t(), 1);
    EXPECT_EQ(board_variant_is_r(), 0);
    EXPECT_EQ(fpga_version(), 258);
    EXPECT_EQ(fpga_version_over_1ff(), 0);

    map_with(0x3634, 0x2D52, 0x0200);
    EXPECT_EQ(board_id_is_62(), 0);
    EXPECT_EQ(board_id_is_64(), 1);
    EXPECT_EQ(board_variant_is_t(), 0);
    EXPECT_EQ(board_variant_is_r(), 1);
    EXPECT_EQ(fpga_version_over_1ff(), 1);
}

TEST_F(FpgaTest, VersionIsSigned) {
    map_with(0x3632, 0x2D54, 0x8000);
    EXPECT_EQ(fpga_version(), -32768);
    map_with(0x3632, 0x2D54, 0xFFFF);
    EXPECT_EQ(fpga_version(), -1);
    EXPECT_EQ(fpga_version_over_1ff(), 0);
}

TEST_F(FpgaTest, OtherRegisterPredicates) {
    map_with(0x3632, 0x2D54, 0x0102);
    sim_fpga_set16(0x0E, 0x5444);
    sim_fpga_set16(0x16, 0xBEEF);
    sim_fpga_set16(0x30, 0x0001);
    EXPECT_EQ(fpga_reg0e_is_td(), 1);
    EXPECT_EQ(fpga_reg0e_is_clear(), 0);
    EXPECT_EQ(fpga_reg16_read(), 0xBEEFu);
    EXPECT_EQ(fpga_reg30_bit0_pick(), 1);
    EXPECT_EQ(fpga_reg30_bit3_clear(), 1);
    sim_fpga_set16(0x0E, 0);
    sim_fpga_set16(0x30, 0x0008);
    EXPECT_EQ(fpga_reg0e_is_clear(), 1);
    EXPECT_EQ(fpga_reg30_bit0_pick(), 2);
    EXPECT_EQ(fpga_reg30_bit3_clear(), 0);
}

TEST_F(FpgaTest, DateEqualsComparesTheWordAndTheDayByte) {
    map_with(0x3632, 0x2D54, 0x0102, 0x1207, 0x1500);
    EXPECT_EQ(fpga_date_equals(0x1207, 0x15FF), 1);
    EXPECT_EQ(fpga_date_equals(0x1207, 0x1600), 0);
    EXPECT_EQ(fpga_date_equals(0x1208, 0x1500), 0);
}

TEST_F(FpgaTest, AccessorsUseTheAddressObtainedWhenBankTwoIsMappedElsewhere) {
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

TEST_F(FpgaTest, WordAndByteLaneAccess) {
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
}

TEST_F(FpgaTest, AddressesOutsideTheWindowAreNeverTouched) {
    map_with(0x3632, 0x2D54, 0x0102);
    EXPECT_EQ(fpga_read16(FPGA_WINDOW - 2), 0);
    EXPECT_EQ(fpga_read16(FPGA_WINDOW + FPGA_WINDOW_SIZE), 0);
    fpga_write16(FPGA_WINDOW + FPGA_WINDOW_SIZE, 0xFFFF);
    fpga_write16(FPGA_WINDOW + FPGA_WINDOW_SIZE - 1, 0xFFFF); // misaligned: no register
    fpga_write16(FPGA_WINDOW + 0x23, 0xFFFF);
    EXPECT_EQ(sim_fpga_get16(FPGA_WINDOW_SIZE - 2), 0);
    EXPECT_EQ(sim_fpga_get16(0x22), 0);
    EXPECT_EQ(sim_fpga_get16(0x24), 0);
    EXPECT_EQ(fpga_read16(FPGA_WINDOW + 0x09), 0); // misaligned read of the version
}

using FpgaDeathTest = FpgaTest;

TEST_F(FpgaDeathTest, MissingMemoryDeviceEndsTheProcessWithStatusZero) {
    board.remove("/dev/mem");
    EXPECT_EXIT(map_fpga_banks(), testing::ExitedWithCode(0), "");
    log_to_file();
    ASSERT_EQ(log_set_path("/tmp/log"), 1);
    EXPECT_EXIT(map_fpga_banks(), testing::ExitedWithCode(0), "");
    log_to_screen();
    EXPECT_NE(board.read("/tmp/log").find("] Error: /dev/kmem does not exist\n"),
              std::string::npos);
}

TEST_F(FpgaDeathTest, BankTwoThatCannotBeMappedStopsWithAMessage) {
    sim_fpga_fail_mapping(0xF8000000ULL, true);
    log_to_file();
    ASSERT_EQ(log_set_path("/tmp/log"), 1);
    EXPECT_EXIT(map_fpga_banks(), testing::ExitedWithCode(0), "");
    log_to_screen();
    sim_fpga_fail_mapping(0xF8000000ULL, false);
    std::string log = board.read("/tmp/log");
    EXPECT_NE(log.find("Can't match Bank2(38000000)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("FPGA bank 2 cannot be mapped"), std::string::npos) << log;
}

} // namespace
