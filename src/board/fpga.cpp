// Mapping of the FPGA banks and the register accessors.
#include "board/fpga.h"

#include "board/fpga_reg.h"
#include "hw/hw.h"
#include "log/log.h"

#include <atomic>
#include <cstdlib>
#include <sys/mman.h>

namespace {

// Where bank 2 actually lives in this process; null until it is mapped.
std::atomic<volatile uint8_t*> bank2Base{nullptr};

// The register behind a window address, or null outside the window, for a misaligned
// address, or before the mapping exists.
volatile uint8_t* reg_ptr(uintptr_t address, uint32_t width) {
    volatile uint8_t* base = bank2Base.load(std::memory_order_acquire);
    if (base == nullptr || address < FPGA_WINDOW || (address & (width - 1)) != 0 ||
        address - FPGA_WINDOW + width > FPGA_WINDOW_SIZE)
        return nullptr;
    return base + (address - FPGA_WINDOW);
}

} // namespace

void map_fpga_banks() {
    int fd = hw_open(MEM_DEVICE_PATH, FPGA_MEM_OPEN_FLAGS);
    if (fd < 0) {
        log_printf("Error: /dev/kmem does not exist\n");
        std::exit(0);
    }
    void* bank2 = MAP_FAILED;
    for (const fpga_bank& bank : FPGA_BANKS) {
        void* want = reinterpret_cast<void*>(bank.requested);
        void* got = hw_mmap(want, bank.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, bank.physical);
        if (got != want)
            log_printf(bank.mismatchMessage, static_cast<unsigned>(bank.requested));
        if (bank.requested == FPGA_WINDOW)
            bank2 = got;
    }
    hw_close(fd);
    if (bank2 == MAP_FAILED) {
        // Every register lives in bank 2: without it nothing can be read safely. Like the
        // memory device that cannot be opened, this is the board's configuration: status 0.
        log_printf("Error: FPGA bank 2 cannot be mapped, stopping\n");
        std::exit(0);
    }
    bank2Base.store(static_cast<volatile uint8_t*>(bank2), std::memory_order_release);
}

uint16_t fpga_read16(uintptr_t address) {
    volatile uint8_t* p = reg_ptr(address, 2);
    return p ? fpga_reg_load16(p) : 0;
}

void fpga_write16(uintptr_t address, unsigned value) {
    volatile uint8_t* p = reg_ptr(address, 2);
    if (p)
        fpga_reg_store16(p, static_cast<uint16_t>(value));
}

uint8_t fpga_read8(uintptr_t address) {
    volatile uint8_t* p = reg_ptr(address, 1);
    return p ? fpga_reg_load8(p) : 0;
}

void fpga_write32(uintptr_t address, uint32_t value) {
    volatile uint8_t* p = reg_ptr(address & ~uintptr_t{3}, 4);
    if (p)
        fpga_reg_store32(p, value);
}

void fpga_or_byte(uintptr_t address, uint8_t value) {
    volatile uint8_t* p = reg_ptr(address & ~uintptr_t{3}, 4);
    if (p == nullptr)
        return;
    // Lane 0 is the most significant byte of the word, as on the big-endian board.
    unsigned shift = 8 * (3 - static_cast<unsigned>(address & 3));
    // A read and a write of the word, as on the board: not one atomic read-modify-write.
    fpga_reg_store32(p, fpga_reg_load32(p) | (static_cast<uint32_t>(value) << shift));
}

int fpga_version() {
    return static_cast<int16_t>(fpga_read16(fpga_addr(fpga_reg::version)));
}
int board_variant_is_t() {
    return fpga_read16(fpga_addr(fpga_reg::variant)) == VARIANT_T ? 1 : 0;
}
int board_variant_is_r() {
    return fpga_read16(fpga_addr(fpga_reg::variant)) == VARIANT_R ? 1 : 0;
}
int board_id_is_62() {
    return fpga_read16(fpga_addr(fpga_reg::board_id)) == BOARD_ID_62 ? 1 : 0;
}
int board_id_is_64() {
    return fpga_read16(fpga_addr(fpga_reg::board_id)) == BOARD_ID_64 ? 1 : 0;
}
int fpga_reg0e_is_td() {
    return fpga_read16(fpga_addr(fpga_reg::reg0e)) == 0x5444 ? 1 : 0;
}
int fpga_reg0e_is_clear() {
    return fpga_read16(fpga_addr(fpga_reg::reg0e)) == 0 ? 1 : 0;
}
unsigned fpga_reg16_read() {
    return fpga_read16(fpga_addr(fpga_reg::reg16));
}
int fpga_reg30_bit0_pick() {
    return (fpga_read16(fpga_addr(fpga_reg::reg30)) & 0x1) ? 1 : 2;
}
int fpga_reg30_bit3_clear() {
    return (fpga_read16(fpga_addr(fpga_reg::reg30)) & 0x8) ? 0 : 1;
}
int fpga_version_over_1ff() {
    return fpga_version() > 0x1FF ? 1 : 0;
}

int fpga_date_equals(int word, int dayword) {
    int dateWord = static_cast<int16_t>(fpga_read16(fpga_addr(fpga_reg::date_word)));
    unsigned dayHigh = fpga_read16(fpga_addr(fpga_reg::day_word)) >> 8;
    return dateWord == word && dayHigh == ((static_cast<unsigned>(dayword) >> 8) & 0xFF) ? 1 : 0;
}
