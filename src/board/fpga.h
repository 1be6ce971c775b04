// The FPGA register window and the board identity read from it.
//
// The FPGA exposes three physical ranges; all three are mapped from /dev/mem at start-up and
// only bank 2 is ever accessed. A register is named by its window address, 0x38000000 plus
// its offset in bank 2; the accessors reach it through wherever bank 2 was actually mapped.
#pragma once

#include <cstdint>
#include <fcntl.h>

struct fpga_bank {
    const char* name;
    unsigned long long physical;
    uint32_t size;
    uintptr_t requested; // virtual address asked for as the mapping hint
    const char* mismatchMessage;
};

inline constexpr fpga_bank FPGA_BANKS[3] = {
    {"Bank0", 0xFE000000ULL, 0x800000, 0x3E000000, "Can't match Bank0(%x)\n"},
    {"Bank2", 0xF8000000ULL, 0x100000, 0x38000000, "Can't match Bank2(%x)\n"},
    {"Bank3", 0xF9000000ULL, 0x100000, 0x39000000, "Can't match Bank3(%x)\n"},
};
inline constexpr uintptr_t FPGA_WINDOW = 0x38000000;
inline constexpr uint32_t FPGA_WINDOW_SIZE = 0x100000;
// O_RDWR with the synchronous bit as the board's C library defines it, and close-on-exec: the
// memory device is never handed to a command the bridge starts.
inline constexpr int FPGA_MEM_OPEN_FLAGS = 0x1002 | O_CLOEXEC;
inline constexpr const char* MEM_DEVICE_PATH = "/dev/mem";

// Bank-2 register offsets.
enum class fpga_reg : uint32_t {
    board_id = 0x04,  // 0x3632 or 0x3634
    variant = 0x06,   // 0x2D54 the variant board, 0x2D52 tested by the ADC set-up
    version = 0x08,   // signed
    date_word = 0x0A, // BCD year (high byte) and month (low byte)
    day_word = 0x0C,  // BCD day in the high byte
    reg0e = 0x0E,
    reg16 = 0x16,
    control = 0x22, // bit 0: codec run
    reg30 = 0x30,
    ring_first = 0x2708,
    ring_second = 0x270A,
    pending = 0x270D, // 8 bits: frames already captured when capture starts
};
inline constexpr uint16_t FPGA_CONTROL_CODEC_RUN = 0x0001;
inline constexpr uint16_t BOARD_ID_62 = 0x3632;
inline constexpr uint16_t BOARD_ID_64 = 0x3634;
inline constexpr uint16_t VARIANT_T = 0x2D54;
inline constexpr uint16_t VARIANT_R = 0x2D52;

constexpr uintptr_t fpga_addr(fpga_reg reg) {
    return FPGA_WINDOW + static_cast<uint32_t>(reg);
}

// Maps the three banks. Ends the process when /dev/mem cannot be opened, or when bank 2
// cannot be mapped at all; a bank mapped elsewhere than requested is reported and used there.
void map_fpga_banks();

uint16_t fpga_read16(uintptr_t address);
void fpga_write16(uintptr_t address, unsigned value);
uint8_t fpga_read8(uintptr_t address);
void fpga_write32(uintptr_t address, uint32_t value);
void fpga_or_byte(uintptr_t address, uint8_t value);

int fpga_version();
int board_variant_is_t();
int board_variant_is_r();
int board_id_is_62();
int board_id_is_64();
int fpga_reg0e_is_td();
int fpga_reg0e_is_clear();
unsigned fpga_reg16_read();
int fpga_reg30_bit0_pick();
int fpga_reg30_bit3_clear();
int fpga_version_over_1ff();
int fpga_date_equals(int word, int dayword);

// Build date from registers 0x0A and 0x0C, logged on every call.
struct fpga_build_date {
    int year;
    int month;
    int day;
};
fpga_build_date fpga_build_date_read();
int fpga_date_not_after(int year, int month, int day);
int fpga_date_at_least(int year, int month, int day);
void print_fpga_version();
