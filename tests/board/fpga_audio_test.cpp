// The FPGA window (mapping, register access through the obtained address, byte lanes, board
// identity, build date) and the audio data device (node, open, frame and control requests).
#include "board_trace.h"

#include "board/audio_dev.h"
#include "hw/hw.h"
#include "sim/sim.h"

#include <sys/mman.h>
#include <sys/stat.h>

namespace {

using ints = std::vector<int>;

TEST(Fpga, IdentityAndBuildDateAreReadFromTheirRegisters) {
    board_dir b;
    map_board(b);
    const uint32_t offsets[] = {0x04, 0x06, 0x08, 0x0E, 0x30, 0x16};
    const std::pair<std::array<uint16_t, 6>, ints> identities[] = {
        // 62, 64, T, R, version, over 0x1FF, 0x0E td, 0x0E clear, 0x30 pick, bit 3 clear, 0x16
        {{0x3632, 0x2D54, 0x0102, 0x5444, 1, 7}, {1, 0, 1, 0, 258, 0, 1, 0, 1, 1, 7}},
        {{0x3634, 0x2D52, 0x0200, 0, 8, 0xBEEF}, {0, 1, 0, 1, 512, 1, 0, 1, 2, 0, 0xBEEF}},
        {{0x3633, 0x2D53, 0x01FF, 1, 0, 0}, {0, 0, 0, 0, 511, 0, 0, 0, 2, 1, 0}},
        {{0x3632, 0x2D54, 0x8000, 0, 9, 0}, {1, 0, 1, 0, -32768, 0, 0, 1, 1, 0, 0}}, // signed
        {{0x3632, 0x2D54, 0xFFFF, 0, 0, 0}, {1, 0, 1, 0, -1, 0, 0, 1, 2, 1, 0}},
    };
    for (const auto& [regs, expected] : identities) {
        for (int i = 0; i < 6; ++i)
            sim_fpga_set16(offsets[i], regs[i]);
        EXPECT_EQ((ints{board_id_is_62(), board_id_is_64(), board_variant_is_t(),
                        board_variant_is_r(), fpga_version(), fpga_version_over_1ff(),
                        fpga_reg0e_is_td(), fpga_reg0e_is_clear(), fpga_reg30_bit0_pick(),
                        fpga_reg30_bit3_clear(), static_cast<int>(fpga_reg16_read())}),
                  expected)
            << std::hex << regs[0] << " " << regs[1] << " " << regs[2];
    }
    sim_fpga_set16(0x0A, 0x1207); // the build date: 2012-07-15
    sim_fpga_set16(0x0C, 0x1500);
    EXPECT_EQ(stdout_of([] {
                  fpga_build_date_read(); // its fields are compared just below
                  print_fpga_version();
              }),
              "fpga version is 2012/7/15\n\n\nFPGA_Version:12071500\n");
    // The low byte of the day word is ignored.
    EXPECT_EQ((ints{fpga_date_equals(0x1207, 0x15FF), fpga_date_equals(0x1207, 0x1600),
                    fpga_date_equals(0x1208, 0x1500)}),
              (ints{1, 0, 0}));
    const int cases[][5] = {// year, month, day, not after, at least
                            {2012, 7, 15, 1, 1}, {2012, 7, 16, 1, 0},  {2012, 7, 14, -1, 1},
                            {2012, 8, 1, 1, 0},  {2012, 6, 30, -1, 1}, {2013, 1, 1, 1, 0},
                            {2013, 6, 30, 1, 0}, {2011, 12, 31, -1, 1}};
    stdout_of([&] {
        for (const auto& c : cases)
            EXPECT_EQ(std::pair(fpga_date_not_after(c[0], c[1], c[2]),
                                fpga_date_at_least(c[0], c[1], c[2])),
                      std::pair(c[3], c[4]))
                << c[0] << "-" << c[1] << "-" << c[2];
        sim_fpga_set16(0x0A, 0x1A01); // a nibble above 9 counts with its plain value
        EXPECT_EQ(fpga_build_date_read().year, 2020);
    });
}

TEST(Fpga, AccessesGoWhereBankTwoWasMappedAndStayInsideIt) {
    // Whatever happened before, after this the requested address is taken.
    void* blocker = mmap(reinterpret_cast<void*>(FPGA_WINDOW), 4096, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(blocker, MAP_FAILED);
    board_dir b;
    EXPECT_TRUE(contains(map_board(b, "fpga_version=0x0103\n"), "Can't match Bank2(38000000)\n"));
    EXPECT_EQ(fpga_version(), 259);
    fpga_write16(fpga_addr(fpga_reg::control), 0x1235);
    EXPECT_EQ(sim_fpga_get16(0x22), 0x1235);
    volatile uint8_t* base = sim_fpga_bank2();
    auto word = [base]() { return *reinterpret_cast<volatile uint32_t*>(base + 0x100); };
    fpga_write32(FPGA_WINDOW + 0x102, 0x11223344); // the two low address bits are cleared
    EXPECT_EQ(word(), 0x11223344u);
    for (uintptr_t lane : {0, 1, 3}) // lane 0 is bits 31..24, as on the big-endian board
        fpga_or_byte(FPGA_WINDOW + 0x100 + lane, 0x80);
    EXPECT_EQ(word(), 0x91A233C4u);
    sim_fpga_set8(0x270D, 0x7F);
    EXPECT_EQ(fpga_read8(fpga_addr(fpga_reg::pending)), 0x7F);
    // Outside the window or misaligned: no register (0x09 is the version's odd half).
    for (uintptr_t a : {FPGA_WINDOW - 2, FPGA_WINDOW + FPGA_WINDOW_SIZE, FPGA_WINDOW + 0x09})
        EXPECT_EQ(fpga_read16(a), 0) << std::hex << a;
    for (uintptr_t a :
         {FPGA_WINDOW + FPGA_WINDOW_SIZE, FPGA_WINDOW + FPGA_WINDOW_SIZE - 1, FPGA_WINDOW + 0x23})
        fpga_write16(a, 0xFFFF);
    EXPECT_EQ(sim_fpga_get16(FPGA_WINDOW_SIZE - 2), 0);
    EXPECT_EQ(sim_fpga_get16(0x24), 0);
    EXPECT_EQ(sim_fpga_get16(0x22), 0x1235);
    if (blocker != reinterpret_cast<void*>(FPGA_WINDOW))
        munmap(blocker, 4096);
}

TEST(FpgaDeathTest, NoMemoryDeviceOrNoBankTwoEndsTheProcessWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "fast"); // forked: the child logs to this very board
    board_dir b;
    b.add_devices();
    log_to_file();
    ASSERT_EQ(log_set_path("/tmp/log"), 1);
    EXPECT_EXIT((sim_fpga_fail_mapping(0xF8000000ULL, true), map_fpga_banks()),
                testing::ExitedWithCode(0), ""); // in the child alone
    b.remove("/dev/mem");
    EXPECT_EXIT(map_fpga_banks(), testing::ExitedWithCode(0), "");
    log_to_screen();
    const std::string log = b.read("/tmp/log");
    for (const char* line :
         {"] Can't match Bank2(38000000)\n", "] Error: /dev/kmem does not exist\n",
          "] Error: FPGA bank 2 cannot be mapped, stopping\n"})
        EXPECT_TRUE(contains(log, line)) << log;
}

TEST(AudioDevice, RequestsReachTheDriverAndAMissingNodeIsCreatedAsCharacterDevice247) {
    board_dir b;
    map_board(b, "frame_us=5000\nplayback=out.wav\n");
    auto open_logged = [] { return stdout_of([] { fd_audioDev = open_audio_device(); }); };
    const std::string init = "init Audio Device(/dev/codec_audioBi)....\r\n";
    EXPECT_EQ(open_logged(), init);
    ASSERT_GE(fd_audioDev, 0);
    for (audio_request r :
         {audio_request::control_d, audio_request::control_b, audio_request::control_c})
        audio_control(r);
    const std::string a = "/dev/codec_audioBi ";
    EXPECT_EQ(b.traced(a), (lines{a + "0xd arg=0x0", a + "0xb arg=0x0", a + "0xc arg=0x0"}));
    // Captured frames come whole, in order: the capture counter in tail bytes 1540..1541.
    pcm_frame f{};
    unsigned counters[2] = {};
    for (unsigned& c : counters) {
        ASSERT_TRUE(wait_for([&] { return audio_read_frame(f) == 0; }));
        c = static_cast<unsigned>(f[PCM_TAIL_OFFSET] << 8 | f[PCM_TAIL_OFFSET + 1]);
    }
    EXPECT_EQ(counters[1], (counters[0] + 1) & 0xFFFF);
    // A played frame reaches the sink whole (muted: the DAC was never set up).
    EXPECT_EQ(audio_write_frame(f), 0);
    EXPECT_EQ(b.read("/sim/out.wav").size(), 44u + 2 * FRAME_SAMPLES);
    EXPECT_EQ(hw_close(fd_audioDev), 0);
    fd_audioDev = -1; // without a descriptor the requests fail; writing a frame still gives 0
    EXPECT_EQ(std::pair(audio_read_frame(f), audio_write_frame(f)), std::pair(-1, 0));

    b.remove("/dev/codec_audioBi");
    const std::string make = "make device .../dev/codec_audioBi...\r\n";
    const mode_t old = umask(022);
    EXPECT_EQ(open_logged(), init + make);
    umask(old);
    EXPECT_EQ(hw_close(fd_audioDev), 0);
    EXPECT_EQ(b.traced(a + "mknod"), (lines{a + "mknod mode=0x21f8 dev=247:0"}));
    using std::filesystem::perms; // 0770 less the umask
    EXPECT_EQ(std::filesystem::status(b.path("/dev/codec_audioBi")).permissions(),
              perms::owner_all | perms::group_read | perms::group_exec);
    ASSERT_EQ(std::system(("rm -rf '" + b.path("/dev") + "'").c_str()), 0);
    EXPECT_EQ(open_logged(), init + make + "Error! open /dev/codec_audioBi\r\n");
    EXPECT_EQ(fd_audioDev, -1);
}

} // namespace
