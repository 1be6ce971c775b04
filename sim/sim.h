// The simulated board: a directory R that stands in for the board's file system, with models
// of the FPGA and the devices behind R/dev. Only the seam and the tests use this header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hw/hw.h"

// Hardware settings of the simulated board, from R/sim/board.conf.
struct sim_board_conf {
    uint16_t boardId = 0x3632;
    uint16_t variant = 0x2D54;
    uint16_t fpgaVersion = 0x0102;
    uint16_t fpgaDate[2] = {0x2601, 0x1500};
    char capture[HW_PATH_SIZE] = {}; // resolved WAV path, empty: silence
    int captureLoop = 0;
    char playback[HW_PATH_SIZE] = {}; // resolved WAV path, empty: nowhere
    unsigned frameUs = 96000;
    char trace[HW_PATH_SIZE] = {};       // resolved trace path, empty: no trace
    char captureLog[HW_PATH_SIZE] = {};  // capture event log (capture_log), empty: none
    char playbackLog[HW_PATH_SIZE] = {}; // playback event log (playback_log), empty: none

    // Live audio, raw 16-bit little-endian mono 8000 Hz streams through FIFOs (audio_pipe.h).
    char capturePipe[HW_PATH_SIZE] = {};  // microphone (capture_pipe), empty: none
    char playbackPipe[HW_PATH_SIZE] = {}; // speaker (playback_pipe), empty: none
};

// Attaches the process to the board directory root: resolves it, reads R/sim/board.conf
// (unknown keys and bad values are reported on standard error) and opens the trace.
// Result 1, or 0 with a message on standard error.
int sim_attach(const char* root);
// Forgets the board directory (tests). Open device descriptors keep their models.
void sim_detach();
const char* sim_root();
const sim_board_conf& sim_conf();
// Replaces the settings (tests), without reading board.conf again.
void sim_set_conf(const sim_board_conf& conf);

// One line of the request trace: "<device path> <request> <details>", flushed at once.
void sim_trace(const char* device, unsigned long request, const char* detailsFormat, ...)
    __attribute__((format(printf, 3, 4)));
// A free-form trace line, for events of the models that are not requests.
void sim_trace_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Lower-case contiguous hex of len bytes into out (size at least 2 * len + 1).
void sim_hex(const uint8_t* data, size_t len, char* out, size_t outSize);

// A device model: attached to a descriptor when its node under R/dev is opened.
struct sim_device {
    const char* path; // logical path, "/dev/mem"
    // Request with its argument: a record's address or a plain value, as the device defines.
    int (*ioctl)(int fd, unsigned long request, unsigned long arg);
    void (*opened)(int fd);
    void (*closed)(int fd);
};
// The device model attached to a descriptor, or nullptr.
const sim_device* sim_device_of(int fd);

// FPGA model (the /dev/mem device). Bank 2 holds the registers; the models drive them.
// Base of the most recent bank-2 mapping, or nullptr before it exists.
volatile uint8_t* sim_fpga_bank2();
uint16_t sim_fpga_get16(uint32_t offset);
void sim_fpga_set16(uint32_t offset, uint16_t value);
void sim_fpga_set8(uint32_t offset, uint8_t value);
// Fault hook for tests: the mapping of the bank with this physical base fails outright.
void sim_fpga_fail_mapping(unsigned long long physical, bool fail);
void* sim_fpga_mmap(void* addr, size_t length, int prot, int flags, unsigned long long offset);
