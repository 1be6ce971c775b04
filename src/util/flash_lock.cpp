// flash_file_lock and its record-lock primitives on /var/writeFlash.
//
// Closing any descriptor of a file drops every record lock the process holds on it, so the
// descriptor that took the lock stays open until flash_file_unlock.
#include "util/flash_lock.h"

#include "hw/hw.h"

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex stateMutex;
int heldFd = -1; // the descriptor that holds the lock, or -1

struct flock whole_file(short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0; // to any future end of the file
    return fl;
}

int open_lock_file() {
    // Close-on-exec: the tools this process starts must not inherit the held descriptor.
    int fd = hw_open(FLASH_LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, FLASH_LOCK_FILE_MODE);
    if (fd < 0)
        std::perror(FLASH_LOCK_FILE);
    return fd;
}

int attempt(int fd, int (*request)(int)) {
    for (int i = 1;; ++i) {
        if (request(fd) == 1)
            return 1;
        if (i == FLASH_LOCK_ATTEMPTS)
            return 0;
        usleep(FLASH_LOCK_PAUSE_US);
    }
}

} // namespace

int fd_set_write_lock(int fd) {
    struct flock fl = whole_file(F_WRLCK);
    return fcntl(fd, F_SETLK, &fl) == -1 ? 0 : 1;
}

int fd_clear_lock(int fd) {
    struct flock fl = whole_file(F_UNLCK);
    return fcntl(fd, F_SETLK, &fl) == -1 ? 0 : 1;
}

int fd_is_write_locked(int fd) {
    struct flock fl = whole_file(F_WRLCK);
    if (fcntl(fd, F_GETLK, &fl) == -1)
        return 0;
    return fl.l_type == F_WRLCK ? 1 : 0;
}

namespace {

// The descriptor that holds the lock, or a fresh one of the lock file (-1 when it cannot be
// opened). Called with stateMutex held.
int lock_fd() {
    return heldFd >= 0 ? heldFd : open_lock_file();
}

} // namespace

int flash_file_lock() {
    std::lock_guard<std::mutex> hold(stateMutex);
    const int fd = lock_fd();
    if (fd < 0)
        return 0;
    if (attempt(fd, fd_set_write_lock) == 1) {
        heldFd = fd;
        return 1;
    }
    if (fd != heldFd)
        hw_close(fd);
    return 0;
}

int flash_file_unlock() {
    std::lock_guard<std::mutex> hold(stateMutex);
    const int fd = lock_fd();
    if (fd < 0)
        return 0;
    int ok = attempt(fd, fd_clear_lock);
    hw_close(fd);
    heldFd = -1;
    return ok;
}
