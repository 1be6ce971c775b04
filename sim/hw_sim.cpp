// The hardware seam on the simulated board.
//
// Every absolute path resolves under the board directory R. A device exists when a file of
// its name exists under R/dev; opening it gives an ordinary descriptor of that file with the
// device's model attached, and requests on the descriptor go to the model.
#include "hw/hw.h"

#include "shell/shell.h"
#include "sim/devices.h"
#include "sim/sim.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const sim_device* const deviceTable[] = {
    &sim_dev_mem, &sim_dev_audio, &sim_dev_spidev0, &sim_dev_spidev1, &sim_dev_spidev2,
    &sim_dev_i2c, &sim_dev_gpio,  &sim_dev_codec,   &sim_dev_spisw,
};

constexpr int MAX_FDS = 4096;
std::mutex fdMutex;
const sim_device* fdDevice[MAX_FDS];

const sim_device* device_for_path(const char* logical) {
    for (const sim_device* dev : deviceTable)
        if (std::strcmp(dev->path, logical) == 0)
            return dev;
    return nullptr;
}

} // namespace

void hw_init() {
    const char* root = std::getenv("OBRABI_ROOT");
    if (root == nullptr || root[0] == '\0') {
        std::fprintf(stderr,
                     "obraBi: this build runs on a simulated board, and OBRABI_ROOT is not set.\n"
                     "Make a board with   scripts/new-board DIR\n"
                     "then run            OBRABI_ROOT=DIR obraBi_to_screen\n");
        std::exit(2);
    }
    if (sim_attach(root) != 1) {
        std::fprintf(stderr,
                     "obraBi: OBRABI_ROOT=%s is no board directory; make one with "
                     "scripts/new-board DIR\n",
                     root);
        std::exit(2);
    }
}

int hw_path(const char* logical, char* out, std::size_t size) {
    const char* root = sim_root();
    int n = (logical[0] == '/' && root[0] != '\0') ? std::snprintf(out, size, "%s%s", root, logical)
                                                   : std::snprintf(out, size, "%s", logical);
    if (n < 0 || static_cast<std::size_t>(n) >= size) {
        if (size > 0)
            out[0] = '\0';
        return 0;
    }
    return 1;
}

int hw_access(const char* path, int mode) {
    char real[HW_PATH_SIZE];
    if (hw_path(path, real, sizeof real) != 1) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return access(real, mode);
}

int hw_mknod(const char* path, unsigned mode, unsigned major, unsigned minor) {
    char real[HW_PATH_SIZE];
    if (hw_path(path, real, sizeof real) != 1) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // A node is an empty file; its device number is recorded in the trace.
    int fd = open(real, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (fd < 0)
        return -1;
    close(fd);
    sim_trace_line("%s mknod mode=0x%x dev=%u:%u", path, mode, major, minor);
    return 0;
}

int hw_open(const char* path, int flags, unsigned mode) {
    char real[HW_PATH_SIZE];
    if (hw_path(path, real, sizeof real) != 1) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const sim_device* dev = device_for_path(path);
    if (dev == nullptr)
        return open(real, flags, mode);
    if (sim_root()[0] == '\0') {
        errno = ENOENT;
        return -1;
    }
    // A node stands in for the device: it must exist; it is never created or truncated. The
    // caller's close-on-exec flag is kept, so that a device opened without it shows.
    int fd = open(real, O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0)
        return -1;
    if (fd >= MAX_FDS) {
        close(fd);
        errno = EMFILE;
        return -1;
    }
    {
        std::lock_guard<std::mutex> hold(fdMutex);
        fdDevice[fd] = dev;
    }
    if (dev->opened != nullptr)
        dev->opened(fd);
    return fd;
}

const sim_device* sim_device_of(int fd) {
    if (fd < 0 || fd >= MAX_FDS)
        return nullptr;
    std::lock_guard<std::mutex> hold(fdMutex);
    return fdDevice[fd];
}

int hw_close(int fd) {
    const sim_device* dev = sim_device_of(fd);
    if (dev != nullptr) {
        if (dev->closed != nullptr)
            dev->closed(fd);
        std::lock_guard<std::mutex> hold(fdMutex);
        fdDevice[fd] = nullptr;
    }
    return close(fd);
}

int hw_ioctl_value(int fd, unsigned long request, unsigned long value) {
    const sim_device* dev = sim_device_of(fd);
    if (dev == nullptr)
        return ioctl(fd, request, value);
    if (dev->ioctl == nullptr) {
        sim_trace(dev->path, request, "arg=0x%lx", value);
        return 0;
    }
    return dev->ioctl(fd, request, value);
}

int hw_ioctl(int fd, unsigned long request, void* arg) {
    return hw_ioctl_value(fd, request,
                          static_cast<unsigned long>(reinterpret_cast<uintptr_t>(arg)));
}

void* hw_mmap(void* addr, std::size_t length, int prot, int flags, int fd,
              unsigned long long offset) {
    if (sim_device_of(fd) != &sim_dev_mem) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    return sim_fpga_mmap(addr, length, prot, flags, offset);
}

namespace {

// Board tools named without a path ("more", "pidof") are looked up in R/bin first, so that a
// board directory can hold the board's own version of a tool whose host version behaves
// differently. The command runs after "PATH='R/bin':$PATH;", R quoted as one word.
constexpr std::size_t SIM_COMMAND_SIZE = 8192;

int with_board_path(const char* command, char* out, std::size_t size) {
    std::size_t o = 0;
    auto put = [&](const char* text) {
        for (; *text != '\0'; ++text) {
            if (o + 1 >= size)
                return false;
            out[o++] = *text;
        }
        return true;
    };
    bool ok = put("PATH='");
    for (const char* p = sim_root(); ok && *p != '\0'; ++p) {
        const char one[2] = {*p, '\0'};
        ok = *p == '\'' ? put("'\\''") : put(one);
    }
    ok = ok && put("/bin':\"$PATH\"; ") && put(command);
    out[ok ? o : 0] = '\0';
    return ok ? 1 : 0;
}

} // namespace

// The tools start through the shell layer, as on the board.
int hw_system(const char* command) {
    if (sim_root()[0] == '\0')
        return run_shell(command);
    char line[SIM_COMMAND_SIZE];
    if (with_board_path(command, line, sizeof line) != 1) {
        errno = E2BIG;
        return -1;
    }
    return run_shell(line);
}

FILE* hw_popen(const char* command, const char* mode) {
    if (sim_root()[0] == '\0')
        return shell_popen(command, mode);
    char line[SIM_COMMAND_SIZE];
    if (with_board_path(command, line, sizeof line) != 1) {
        errno = E2BIG;
        return nullptr;
    }
    return shell_popen(line, mode);
}

int hw_pclose(FILE* stream) {
    return shell_pclose(stream);
}

int hw_reboot(int how) {
    // Recorded, never carried out.
    sim_trace_line("reboot how=0x%x", static_cast<unsigned>(how));
    return 0;
}

int hw_killall(const char* name) {
    // Recorded, never carried out: the processes of the host are not the board's.
    sim_trace_line("killall name=%s", name);
    return 0;
}
