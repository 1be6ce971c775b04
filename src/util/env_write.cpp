// env_set_* and envfd_set_*: one command line through the shell per key written.
#include "util/env_write.h"

#include "hw/hw.h"
#include "config/shell_arg.h"
#include "log/log.h"

#include <cstdio>
#include <cstring>

namespace {

// Length of the line as the board's tool path and the plain formats give it: "TOOL KEY",
// "TOOL KEY NUMBER" or "TOOL KEY \"TEXT\"". The writer's buffer is sized for that line, so
// the limit is taken on it: whatever fits runs, nothing longer does, however much room the
// quoting that hands each word over unaltered takes on the line that is run.
std::size_t plain_line_length(const char* tool, const char* key, const char* number,
                              const char* text) {
    std::size_t n = std::strlen(tool) + 1 + std::strlen(key);
    if (number != nullptr)
        n += 1 + std::strlen(number);
    if (text != nullptr)
        n += 1 + 1 + std::strlen(text) + 1;
    return n;
}

// Room for the line that is run: the resolved tool path and the words quoted, each of
// their characters taking at most four.
constexpr std::size_t QUOTED_LINE_SIZE = 4 * (ENV_SET_STR_COMMAND_SIZE + HW_PATH_SIZE);

// Runs "TOOL KEY [VALUE]" when its plain line fits size bytes with the terminator. number,
// when given, is a decimal or hexadecimal text put on the line as it is; text, when given,
// goes as one quoted word.
int run_writer(const char* tool, std::size_t size, const char* key, const char* number,
               const char* text) {
    char command[QUOTED_LINE_SIZE] = {};
    int ok = plain_line_length(tool, key, number, text) + 1 <= size;
    ok = ok && shell_append_path(command, sizeof command, tool) &&
         shell_append_raw(command, sizeof command, " ") &&
         shell_append_word(command, sizeof command, key);
    if (ok && number != nullptr)
        ok = shell_append_raw(command, sizeof command, " ") &&
             shell_append_raw(command, sizeof command, number);
    if (ok && text != nullptr)
        ok = shell_append_raw(command, sizeof command, " ") &&
             shell_append_word(command, sizeof command, text);
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
