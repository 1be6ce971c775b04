// The board's codec driver /dev/codec: takes a 48-byte record with every request.
//
// The model keeps no chip state; it records each request with the whole record as received
// (`/dev/codec 0x19 len=0x30 data=<96 hex digits>`), so tests read the byte order of its
// words. A test hook makes every request fail, as a driver would that rejects it.
#include "sim/devices.h"
#include "sim/sim.h"

#include "util/codec_ctl.h"

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> failing{false};

int codec_ioctl(int, unsigned long request, unsigned long arg) {
    const auto* record = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(arg));
    if (record == nullptr) {
        sim_trace(CODEC_CTL_DEVICE_PATH, request, "record=null");
        errno = EFAULT;
        return -1;
    }
    char hex[2 * CODEC_CTL_MSG_SIZE + 1];
    sim_hex(record, CODEC_CTL_MSG_SIZE, hex, sizeof hex);
    const bool fail = failing.load();
    sim_trace(CODEC_CTL_DEVICE_PATH, request, "len=0x%zx data=%s%s", CODEC_CTL_MSG_SIZE, hex,
              fail ? " fail" : "");
    if (fail) {
        errno = EIO;
        return -1;
    }
    return 0;
}

} // namespace

const sim_device sim_dev_codec = {CODEC_CTL_DEVICE_PATH, codec_ioctl, nullptr, nullptr};

void sim_codec_reset() {
    failing.store(false);
}

void sim_codec_fail_requests(bool fail) {
    failing.store(fail);
}
