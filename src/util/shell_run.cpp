// run_popen: a command through popen, waited for.
#include "util/process.h"

#include "hw/hw.h"
#include "log/log.h"

#include <cstdio>
#include <cstring>

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
