// The audio data device: node creation, opening, and the frame and control requests.
#include "board/audio_dev.h"

#include "hw/hw.h"
#include "log/log.h"

#include <fcntl.h>
#include <unistd.h>

int fd_audioDev = -1;

int open_audio_device() {
    log_printf("init Audio Device(%s)....\r\n", AUDIO_DEVICE_PATH);
    if (hw_access(AUDIO_DEVICE_PATH, F_OK) != 0) {
        // A failed creation shows as a failed open just below.
        hw_mknod(AUDIO_DEVICE_PATH, AUDIO_DEVICE_NODE_MODE, AUDIO_DEVICE_MAJOR, AUDIO_DEVICE_MINOR);
        log_printf("make device ...%s...\r\n", AUDIO_DEVICE_PATH);
    }
    int fd = hw_open(AUDIO_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    log_printf("Error! open %s\r\n", AUDIO_DEVICE_PATH);
    return -1;
}

int audio_read_frame(std::span<uint8_t, PCM_FRAME_SIZE> frame) {
    return hw_ioctl(fd_audioDev, static_cast<unsigned long>(audio_request::read_frame),
                    frame.data());
}

int audio_play_frame(std::span<const uint8_t, PCM_FRAME_SIZE> frame) {
    // The driver only reads the frame; the request takes a plain address.
    return hw_ioctl(fd_audioDev, static_cast<unsigned long>(audio_request::write_frame),
                    const_cast<uint8_t*>(frame.data()));
}

int audio_write_frame(std::span<const uint8_t, PCM_FRAME_SIZE> frame) {
    (void)audio_play_frame(frame);
    return 0;
}

int audio_control(audio_request request) {
    return hw_ioctl_value(fd_audioDev, static_cast<unsigned long>(request), 0);
}
