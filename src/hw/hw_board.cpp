// The hardware seam on the real board: every call goes to the system unchanged.
#include "hw/hw.h"

#include "shell/shell.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

void hw_init() {}

int hw_path(const char* logical, char* out, std::size_t size) {
    size_t n = std::strlen(logical);
    if (n + 1 > size) {
        if (size > 0)
            out[0] = '\0';
        return 0;
    }
    std::memcpy(out, logical, n + 1);
    return 1;
}

int hw_access(const char* path, int mode) {
    return access(path, mode);
}

int hw_mknod(const char* path, unsigned mode, unsigned major, unsigned minor) {
    return mknod(path, mode, makedev(major, minor));
}

int hw_open(const char* path, int flags, unsigned mode) {
    return open(path, flags, mode);
}
int hw_close(int fd) {
    return close(fd);
}
int hw_ioctl(int fd, unsigned long request, void* arg) {
    return ioctl(fd, request, arg);
}

int hw_ioctl_value(int fd, unsigned long request, unsigned long value) {
    return ioctl(fd, request, value);
}

void* hw_mmap(void* addr, std::size_t length, int prot, int flags, int fd,
              unsigned long long offset) {
    return mmap(addr, length, prot, flags, fd, static_cast<off_t>(offset));
}

// The shell tools start through the shell layer: a clean signal mask, nothing inherited.
int hw_system(const char* command) {
    return run_shell(command);
}
FILE* hw_popen(const char* command, const char* mode) {
    return shell_popen(command, mode);
}
int hw_pclose(FILE* stream) {
    return shell_pclose(stream);
}
int hw_reboot(int how) {
    return reboot(how);
}

int hw_killall(const char* name) {
    char command[128] = "killall ";
    if (shell_append_word(command, sizeof command, name) != 1)
        return -1;
    return run_shell(command);
}
