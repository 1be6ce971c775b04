// env_set_* and envfd_set_*: one command line through the shell per key written.
#include "util/env_write.h"

#include "board/hw.h"
#include "config/shell_arg.h"
#include "log/log.h"

#include <cstdio>

namespace {

// Builds "TOOL KEY [VALUE]" within size bytes and runs it. number, when given, is a decimal
// or hexadecimal text put on the line as it is; text, when given, goes as one quoted word.
int run_writer(const char* tool, std::size_t size, const char* key, const char* number,
               const char* text) {
    char command[ENV_SET_STR_COMMAND_SIZE] = {};
    if (size > sizeof command)
        size = sizeof command;
    int ok = shell_append_path(command, size, tool) && shell_append_raw(command, size, " ") &&
             shell_append_word(command, size, key);
    if (ok && number != nullptr)
        ok = shell_append_raw(command, size, " ") && shell_append_raw(command, size, number);
    if (ok && text != nullptr)
        ok = shell_append_raw(command, size, " ") && shell_append_word(command, size, text);
    if (!ok) {
        log_printf("%s %.40s: command line longer than %u bytes, not run\n", tool, key,
                   static_cast<unsigned>(size - 1));
        return 0;
    }
    hw_system(command);
    return 1;
}

int set_hex(const char* tool, const char* key, uint32_t value) {
    char number[16];
    std::snprintf(number, sizeof number, "%x", static_cast<unsigned>(value));
    return run_writer(tool, ENV_SET_COMMAND_SIZE, key, number, nullptr);
}

int set_int(const char* tool, const char* key, int32_t value) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(value));
    return run_writer(tool, ENV_SET_COMMAND_SIZE, key, number, nullptr);
}

} // namespace

int env_set_bare(const char* key) {
    return run_writer(ENV_SET_TOOL, ENV_SET_COMMAND_SIZE, key, nullptr, nullptr);
}

int env_set_hex(const char* key, uint32_t value) {
    return set_hex(ENV_SET_TOOL, key, value);
}
int env_set_int(const char* key, int32_t value) {
    return set_int(ENV_SET_TOOL, key, value);
}

int env_set_str(const char* key, const char* value) {
    return run_writer(ENV_SET_TOOL, ENV_SET_STR_COMMAND_SIZE, key, nullptr, value);
}

int envfd_set_hex(const char* key, uint32_t value) {
    return set_hex(ENVFD_SET_TOOL, key, value);
}
int envfd_set_int(const char* key, int32_t value) {
    return set_int(ENVFD_SET_TOOL, key, value);
}

int envfd_set_str(const char* key, const char* value) {
    return run_writer(ENVFD_SET_TOOL, ENV_SET_COMMAND_SIZE, key, nullptr, value);
}
