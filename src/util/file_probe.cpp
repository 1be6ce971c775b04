// cat_first_line, path_exists, file_first_line, file_contains.
#include "util/file_probe.h"

#include "hw/hw.h"
#include "config/para.h"
#include "config/shell_arg.h"
#include "log/log.h"

#include <cstdio>
#include <cstring>

namespace {

// A command line that holds a resolved board path, with room for the command's name.
constexpr std::size_t PROBE_COMMAND_SIZE = HW_PATH_SIZE + 16;

// "NAME 'resolved path'" into command; 0 with a log line when it does not fit.
int build_path_command(const char* name, const char* path, char* command, std::size_t size) {
    command[0] = '\0';
    if (shell_append_raw(command, size, name) == 1 && shell_append_raw(command, size, " ") == 1 &&
        shell_append_path(command, size, path) == 1)
        return 1;
    log_printf("%s %.60s: command line too long, not run\n", name, path);
    return 0;
}

// Copies at most destSize - 1 bytes of text and a terminator.
void copy_bounded(char* dest, std::size_t destSize, const char* text, std::size_t len) {
    if (destSize == 0)
        return;
    if (len > destSize - 1)
        len = destSize - 1;
    std::memcpy(dest, text, len);
    dest[len] = '\0';
}

} // namespace

int cat_first_line(const char* path, char* dest, std::size_t destSize) {
    char command[PROBE_COMMAND_SIZE];
    if (build_path_command("cat", path, command, sizeof command) != 1)
        return 0;
    FILE* out = hw_popen(command, "r");
    if (out == nullptr)
        return 0;
    char line[PROBE_LINE_SIZE] = {};
    if (std::fgets(line, sizeof line, out) == nullptr) {
        hw_pclose(out);
        return 0;
    }
    hw_pclose(out);
    char kept[PROBE_LINE_SIZE] = {};
    copy_printable(kept, line, std::strlen(line));
    copy_bounded(dest, destSize, kept, std::strlen(kept));
    return 1;
}

int path_exists(const char* path) {
    char real[HW_PATH_SIZE];
    char buffer[PROBE_COMMAND_SIZE];
    if (hw_path(path, real, sizeof real) != 1 ||
        build_path_command("ls", path, buffer, sizeof buffer) != 1)
        return 0;
    FILE* out = hw_popen(buffer, "r");
    if (out == nullptr)
        return 0;
    // The listing names the path as it is known here, so it is compared with the resolved one.
    std::memset(buffer, 0, sizeof buffer);
    int found = std::fgets(buffer, sizeof buffer, out) != nullptr &&
                std::strncmp(buffer, real, std::strlen(real)) == 0;
    hw_pclose(out);
    return found;
}

int file_first_line(const char* path, char* dest, std::size_t destSize) {
    char real[HW_PATH_SIZE];
    FILE* f = hw_path(path, real, sizeof real) == 1 ? std::fopen(real, "re") : nullptr;
    if (f == nullptr)
        return 0;
    char line[PROBE_LINE_SIZE] = {};
    if (std::fgets(line, sizeof line, f) == nullptr)
        line[0] = '\0';
    std::fclose(f);
    if (line[0] == '\0')
        return 0;
    copy_bounded(dest, destSize, line, std::strlen(line));
    return 1;
}

int file_contains(const char* text, const char* path) {
    char real[HW_PATH_SIZE];
    FILE* f = hw_path(path, real, sizeof real) == 1 ? std::fopen(real, "re") : nullptr;
    if (f == nullptr)
        return 0;
    char piece[PROBE_PIECE_BUFFER_SIZE];
    for (;;) {
        std::memset(piece, 0, sizeof piece);
        if (std::fgets(piece, PROBE_PIECE_READ_SIZE, f) == nullptr)
            break;
        if (std::strstr(piece, text) != nullptr) {
            std::fclose(f);
            return 1;
        }
    }
    std::fclose(f);
    return 0;
}
