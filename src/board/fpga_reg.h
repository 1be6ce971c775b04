// One FPGA register access: a single load or store of the register's width at its address.
//
// Each access is a relaxed atomic on the volatile address. On the board that is still one
// plain lbz/lhz/lwz or stb/sth/stw, issued on every use and never merged with its
// neighbours; within the process it is also a well-defined access when another thread
// touches the same register at the same time (the transmit thread polls the capture-ring
// registers while the receive loop runs, and the simulated board's clock writes them).
// Everything that touches a register goes through these calls: the accessors of
// board/fpga.cpp and the simulated FPGA.
#pragma once

#include <cstdint>

inline uint8_t fpga_reg_load8(const volatile uint8_t* reg) {
    return __atomic_load_n(reg, __ATOMIC_RELAXED);
}

inline uint16_t fpga_reg_load16(const volatile uint8_t* reg) {
    return __atomic_load_n(reinterpret_cast<const volatile uint16_t*>(reg), __ATOMIC_RELAXED);
}

inline uint32_t fpga_reg_load32(const volatile uint8_t* reg) {
    return __atomic_load_n(reinterpret_cast<const volatile uint32_t*>(reg), __ATOMIC_RELAXED);
}

inline void fpga_reg_store8(volatile uint8_t* reg, uint8_t value) {
    __atomic_store_n(reg, value, __ATOMIC_RELAXED);
}

inline void fpga_reg_store16(volatile uint8_t* reg, uint16_t value) {
    __atomic_store_n(reinterpret_cast<volatile uint16_t*>(reg), value, __ATOMIC_RELAXED);
}

inline void fpga_reg_store32(volatile uint8_t* reg, uint32_t value) {
    __atomic_store_n(reinterpret_cast<volatile uint32_t*>(reg), value, __ATOMIC_RELAXED);
}
