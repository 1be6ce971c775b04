// The hardware seam: everything that exists only on the board goes through these calls.
//
// Two implementations are chosen when the build is configured: the board one passes every
// call to the system unchanged; the simulated one resolves every fixed absolute path under
// the simulated board directory and attaches device nodes to models of the board's
// hardware. Product code never asks which one it runs on. Plain types only. The seam is the
// layer just above the shell: every other folder of the product builds on it, and it on
// nothing of theirs.
#pragma once

#include <cstddef>
#include <cstdio>

// Size of a buffer that holds a resolved path, which may be longer than the logical one.
inline constexpr std::size_t HW_PATH_SIZE = 1024;

// Prepares the board layer before anything else runs. The simulated board ends the process
// here, with instructions, when it has no board directory to run on.
void hw_init();

// Resolves a fixed absolute path of the board ("/var/obraBi_para") into the path to use for
// ordinary file I/O. Result 1, or 0 when the result would not fit (out is then empty).
[[nodiscard]] int hw_path(const char* logical, char* out, std::size_t size);

// Device nodes and the files beside them, by their logical paths.
int hw_access(const char* path, int mode);
int hw_mknod(const char* path, unsigned mode, unsigned major, unsigned minor);
int hw_open(const char* path, int flags, unsigned mode = 0);
int hw_close(int fd);
// A request whose argument is the address of a record.
int hw_ioctl(int fd, unsigned long request, void* arg);
// A request whose argument is a plain value, passed directly.
int hw_ioctl_value(int fd, unsigned long request, unsigned long value);
void* hw_mmap(void* addr, std::size_t length, int prot, int flags, int fd,
              unsigned long long offset);

// The board's shell tools. Paths inside command lines must already be resolved. They start
// as the shell layer starts every command (shell/shell.h): default signal mask and actions,
// no descriptor inherited but the standard ones. hw_popen reads only (mode "r").
int hw_system(const char* command);
FILE* hw_popen(const char* command, const char* mode);
int hw_pclose(FILE* stream);
int hw_reboot(int how);
// Stops every process of the given name, the way the board's services do it: "killall NAME"
// through /bin/sh. Result: the raw wait status of the shell, or -1. The simulated board
// records the request and stops nothing.
int hw_killall(const char* name);
