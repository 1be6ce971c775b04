// Starting shell commands: run_shell, shell_spawn and a popen of its own.
//
// posix_spawn resets the child's signal mask and dispositions before the shell runs, which a
// plain system() or popen() would leave as the starting thread has them. The streams of
// shell_popen are remembered with their children in a fixed table, so that shell_pclose can
// wait for the right one.
#include "shell/shell.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct shell_stream {
    FILE* stream;
    pid_t child;
};

std::mutex streamsMutex;
shell_stream streams[SHELL_STREAMS];

// Takes a free place in the table for a stream about to be opened; -1 when none is free.
int reserve_stream() {
    std::lock_guard<std::mutex> hold(streamsMutex);
    for (int i = 0; i < SHELL_STREAMS; ++i) {
        if (streams[i].stream == nullptr && streams[i].child == 0) {
            streams[i].child = -1; // taken, not yet filled
            return i;
        }
    }
    return -1;
}

void fill_stream(int slot, FILE* stream, pid_t child) {
    std::lock_guard<std::mutex> hold(streamsMutex);
    streams[slot] = {stream, child};
}

// The child of a stream, its place freed; -1 for a stream not in the table.
pid_t forget_stream(FILE* stream) {
    std::lock_guard<std::mutex> hold(streamsMutex);
    for (shell_stream& s : streams) {
        if (stream != nullptr && s.stream == stream) {
            const pid_t child = s.child;
            s = {};
            return child;
        }
    }
    return -1;
}

} // namespace

pid_t shell_spawn(const char* command, int* output) {
    int ends[2] = {-1, -1};
    if (output != nullptr && pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
    sigset_t none;
    sigset_t every;
    sigemptyset(&none);
    sigfillset(&every);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &every);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int failure = 0;
    if (output != nullptr)
        failure = posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    pid_t child = -1;
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>(command), nullptr};
    if (failure == 0)
        failure = posix_spawn(&child, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (output != nullptr) {
        close(ends[1]);
        if (failure == 0)
            *output = ends[0];
        else
            close(ends[0]);
    }
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    return child;
}

int shell_wait(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) == -1) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

int run_shell(const char* command) {
    if (command == nullptr)
        return 1;
    const pid_t child = shell_spawn(command, nullptr);
    return child < 0 ? -1 : shell_wait(child);
}

FILE* shell_popen(const char* command, const char* mode) {
    if (mode[0] != 'r') {
        errno = EINVAL;
        return nullptr;
    }
    const int slot = reserve_stream();
    if (slot < 0) {
        errno = EMFILE;
        return nullptr;
    }
    int output = -1;
    const pid_t child = shell_spawn(command, &output);
    FILE* stream = child < 0 ? nullptr : fdopen(output, "r");
    if (stream == nullptr) {
        if (child >= 0) {
            close(output);
            shell_wait(child);
        }
        fill_stream(slot, nullptr, 0);
        return nullptr;
    }
    fill_stream(slot, stream, child);
    return stream;
}

int shell_pclose(FILE* stream) {
    const pid_t child = forget_stream(stream);
    if (child <= 0) {
        errno = ECHILD;
        return -1;
    }
    std::fclose(stream);
    return shell_wait(child);
}
