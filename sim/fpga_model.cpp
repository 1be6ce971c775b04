// The FPGA behind /dev/mem: banks as plain memory, registers as natively ordered halfwords.
#include "board/fpga.h"
#include "board/fpga_reg.h"
#include "sim/devices.h"
#include "sim/sim.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <thread>
#include <time.h>

namespace {

constexpr unsigned long long BANK2_PHYSICAL = FPGA_BANKS[1].physical;
constexpr uint32_t CONTROL = 0x22;
constexpr long WATCH_PERIOD_NS = 2000000; // the codec reset holds the bit low for 100 ms

std::atomic<volatile uint8_t*> bank2{nullptr};
std::atomic<unsigned> failMask{0};

int bank_index(unsigned long long physical) {
    for (int i = 0; i < 3; ++i)
        if (FPGA_BANKS[i].physical == physical)
            return i;
    return -1;
}

void init_registers(volatile uint8_t* base) {
    const sim_board_conf& c = sim_conf();
    auto set = [base](uint32_t off, uint16_t v) { fpga_reg_store16(base + off, v); };
    set(0x04, c.boardId);
    set(0x06, c.variant);
    set(0x08, c.fpgaVersion);
    set(0x0A, c.fpgaDate[0]);
    set(0x0C, c.fpgaDate[1]);
}

// The registers are plain memory, so a change of the codec run bit is seen by looking: a
// change undone within one look (a few milliseconds) is not seen.
void watch_control() {
    pthread_setname_np(pthread_self(), "sim-watch");
    volatile uint8_t* seenBase = nullptr;
    uint16_t seen = 0;
    for (;;) {
        timespec pause{0, WATCH_PERIOD_NS};
        nanosleep(&pause, nullptr);
        volatile uint8_t* base = bank2.load();
        if (base == nullptr)
            continue;
        const uint16_t value = fpga_reg_load16(base + CONTROL);
        if (base != seenBase) {
            // A new mapping starts from the register's power-on value.
            seenBase = base;
            seen = 0;
        }
        if (((value ^ seen) & 1) != 0)
            sim_trace_line("/dev/mem reg 0x22=0x%x", static_cast<unsigned>(value));
        seen = value;
    }
}

int mem_ioctl(int, unsigned long request, unsigned long arg) {
    sim_trace("/dev/mem", request, "arg=0x%lx", arg);
    errno = ENOTTY;
    return -1;
}

} // namespace

const sim_device sim_dev_mem = {"/dev/mem", mem_ioctl, nullptr, nullptr};

void* sim_fpga_mmap(void* addr, size_t length, int prot, int flags, unsigned long long offset) {
    int index = bank_index(offset);
    if (index < 0 || length == 0 || length > FPGA_BANKS[index].size) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    if ((failMask.load() & (1u << index)) != 0) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    void* p = mmap(addr, length, prot, (flags & ~MAP_FIXED) | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return p;
    sim_trace_line("/dev/mem mmap off=0x%llx len=0x%zx at=%s", offset, length,
                   p == addr ? "requested" : "elsewhere");
    if (offset == BANK2_PHYSICAL) {
        auto* base = static_cast<volatile uint8_t*>(p);
        init_registers(base);
        bank2.store(base);
        sim_fpga_watch_start();
    }
    return p;
}

void sim_fpga_fail_mapping(unsigned long long physical, bool fail) {
    int index = bank_index(physical);
    if (index < 0)
        return;
    if (fail)
        failMask.fetch_or(1u << index);
    else
        failMask.fetch_and(~(1u << index));
}

volatile uint8_t* sim_fpga_bank2() {
    return bank2.load();
}

uint16_t sim_fpga_get16(uint32_t offset) {
    volatile uint8_t* base = bank2.load();
    return base ? fpga_reg_load16(base + offset) : 0;
}

void sim_fpga_set16(uint32_t offset, uint16_t value) {
    volatile uint8_t* base = bank2.load();
    if (base)
        fpga_reg_store16(base + offset, value);
}

void sim_fpga_set8(uint32_t offset, uint8_t value) {
    volatile uint8_t* base = bank2.load();
    if (base)
        fpga_reg_store8(base + offset, value);
}

void sim_fpga_watch_start() {
    static std::once_flag started;
    std::call_once(started, [] { std::thread(watch_control).detach(); });
}
