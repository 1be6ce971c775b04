// run_shell and run_popen: commands through the platform shell.
#include "util/process.h"

#include "board/hw.h"
#include "log/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

int run_shell(const char* command) {
    if (command == nullptr)
        return 1;
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                              const_cast<char*>(command), nullptr};
        execvp("/bin/sh", argv);
        // _exit, not exit: the child must not flush or tear down the parent's state.
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) == -1) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

int run_popen(const char* command) {
    char line[RUN_POPEN_COMMAND_SIZE];
    std::size_t len = std::strlen(command);
    if (len + 1 > sizeof line) {
        log_printf("command of %u characters longer than %u, not run: %.40s\n",
                   static_cast<unsigned>(len), static_cast<unsigned>(sizeof line - 1), command);
        return 0;
    }
    std::memcpy(line, command, len + 1);
    FILE* out = hw_popen(line, "r");
    if (out == nullptr)
        return 0;
    hw_pclose(out);
    return 1;
}
