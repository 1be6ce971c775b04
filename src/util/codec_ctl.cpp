// Requests on /dev/codec. The record's words are laid out byte by byte, so that the driver
// reads the same big-endian record whichever host built it.
#include "util/codec_ctl.h"

#include "hw/hw.h"
#include "log/log.h"

#include <cstring>
#include <fcntl.h>

namespace {

void put_be32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

int issue(unsigned long request, codec_ctl_msg& msg) {
    int fd = hw_open(CODEC_CTL_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        log_printf("Error! open %s\r\n", CODEC_CTL_DEVICE_PATH);
        return -1;
    }
    // What the driver makes of the request is its own; a failure is not noticed here.
    hw_ioctl(fd, request, &msg);
    return hw_close(fd);
}

} // namespace

codec_ctl_msg codec_ctl_build(uint32_t first, uint32_t second, uint32_t third) {
    codec_ctl_msg msg;
    std::memset(&msg, 0, sizeof msg);
    put_be32(msg.bytes + CODEC_CTL_FIRST_OFFSET, first);
    put_be32(msg.bytes + CODEC_CTL_SECOND_OFFSET, second);
    put_be32(msg.bytes + CODEC_CTL_THIRD_OFFSET, third);
    return msg;
}

int codec_ctl_send(uint32_t first, uint32_t second) {
    codec_ctl_msg msg = codec_ctl_build(first, second, CODEC_CTL_SEND_CONSTANT);
    return issue(CODEC_CTL_SEND_REQUEST, msg);
}

int codec_ctl_request(unsigned long request) {
    codec_ctl_msg msg = codec_ctl_build(0, 0, 0);
    return issue(request, msg);
}
