// env_get and its family: the main store through env.d, the second store through env.fd.
#include "config/env.h"

#include "hw/hw.h"
#include "config/shell_arg.h"
#include "log/log.h"
#include "log/safe_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

int envAccessMode = 0;
char envdCachePath[ENV_PATH_SIZE];
char envfdCachePath[ENV_PATH_SIZE];
int envdCacheDirty = 1;
int envfdCacheDirty = 1;

// One store: the tool that lists it, its dump file and the dump's dirty flag.
struct env_store {
    const char* tool;
    char* cachePath;
    int* cacheDirty;
    int directLineSize;
};

env_store mainStore() {
    return {ENV_MAIN_TOOL, envdCachePath, &envdCacheDirty, ENV_LINE_SIZE};
}
env_store secondStore() {
    return {ENV_SECOND_TOOL, envfdCachePath, &envfdCacheDirty, ENVFD_DIRECT_LINE_SIZE};
}

// Copies a found value with its terminator, or refuses one that does not fit.
int store_value(const char* key, const char* value, char* dest, std::size_t destSize) {
    std::size_t len = std::strlen(value);
    if (len + 1 > destSize) {
        log_printf("env %s: value of %u characters does not fit %u, ignored\n", key,
                   static_cast<unsigned>(len), static_cast<unsigned>(destSize - (destSize > 0)));
        return 0;
    }
    std::memcpy(dest, value, len + 1);
    return 1;
}

// The dump is written by the bridge itself from the tool's output, into a file that
// safe_open creates afresh: nothing planted at the path (a link, a FIFO) is followed or waited
// on. The file is there, empty, before the tool runs, as the shell's redirection left it.
void take_dump(const env_store& store, const char* dump) {
    *store.cacheDirty = 0;
    char command[2 * HW_PATH_SIZE] = {};
    if (shell_append_path(command, sizeof command, store.tool) != 1) {
        log_printf("env dump command for %s too long, not run\n", store.tool);
        return;
    }
    char why[SAFE_WHY_SIZE] = {};
    const int fd = safe_open(dump, safe_mode::fresh, why, sizeof why);
    if (fd < 0) {
        log_printf("env dump %s cannot be written (%s)\n", store.cachePath, why);
        return;
    }
    FILE* out = hw_popen(command, "r");
    if (out != nullptr) {
        (void)write_stream(fd, out);
        hw_pclose(out);
    }
    close(fd);
}

int get_cached(const env_store& store, const char* key, char* dest, std::size_t destSize) {
    char dump[HW_PATH_SIZE];
    if (hw_path(store.cachePath, dump, sizeof dump) != 1)
        return 0;
    // A dump that is empty, missing or no regular file of ours is taken again.
    if (*store.cacheDirty == 1 || safe_file_size(dump) <= 0)
        take_dump(store, dump);
    FILE* f = safe_read_stream(dump);
    if (f == nullptr)
        return 0;
    const std::size_t keyLen = std::strlen(key);
    static thread_local char line[ENV_LINE_SIZE];
    int found = 0;
    while (std::fgets(line, ENV_LINE_SIZE, f) != nullptr) {
        if (std::strncmp(line, key, keyLen) != 0 || line[keyLen] != '=')
            continue;
        trim_line_end(line);
        found = store_value(key, line + keyLen + 1, dest, destSize);
        break;
    }
    std::fclose(f);
    return found;
}

int get_direct(const env_store& store, const char* key, char* dest, std::size_t destSize) {
    char command[2 * HW_PATH_SIZE] = {};
    if (shell_append_path(command, sizeof command, store.tool) != 1 ||
        shell_append_raw(command, sizeof command, " ") != 1 ||
        shell_append_word(command, sizeof command, key) != 1 ||
        shell_append_raw(command, sizeof command, " 2> /dev/null") != 1) {
        log_printf("env query for %.40s too long, not run\n", key);
        return 0;
    }
    FILE* out = hw_popen(command, "r");
    if (out == nullptr)
        return 0;
    static thread_local char line[ENV_LINE_SIZE];
    std::memset(line, 0, sizeof line);
    if (std::fgets(line, store.directLineSize, out) == nullptr) {
        hw_pclose(out);
        return 0;
    }
    hw_pclose(out);
    char* eq = std::strchr(line, '=');
    char* value = eq != nullptr ? eq + 1 : line;
    trim_line_end(value);
    return store_value(key, value, dest, destSize);
}

int equals_with(int (*lookup)(const char*, char*, std::size_t), const char* key, const char* text) {
    char value[ENV_VALUE_SIZE] = {};
    if (lookup(key, value, sizeof value) != 1)
        return 0;
    return std::strcmp(value, text) == 0 ? 1 : 0;
}

} // namespace

void env_init(int mode) {
    std::snprintf(envfdCachePath, sizeof envfdCachePath, "/tmp/.env.fd.result.%s",
                  program_invocation_short_name);
    std::snprintf(envdCachePath, sizeof envdCachePath, "/tmp/.env.d.result.%s",
                  program_invocation_short_name);
    // unlink removes whatever stands there, a link itself and never what it names.
    char real[HW_PATH_SIZE];
    if (hw_path(envfdCachePath, real, sizeof real) == 1)
        unlink(real);
    if (hw_path(envdCachePath, real, sizeof real) == 1)
        unlink(real);
    envdCacheDirty = 1;
    envfdCacheDirty = 1;
    envAccessMode = mode;
}

int env_access_mode() {
    return envAccessMode;
}
const char* env_dump_path_main() {
    return envdCachePath;
}
const char* env_dump_path_second() {
    return envfdCachePath;
}

int env_get_cached(const char* key, char* dest, std::size_t destSize) {
    return get_cached(mainStore(), key, dest, destSize);
}

int env_get_direct(const char* key, char* dest, std::size_t destSize) {
    return get_direct(mainStore(), key, dest, destSize);
}

int envfd_get_cached(const char* key, char* dest, std::size_t destSize) {
    return get_cached(secondStore(), key, dest, destSize);
}

int envfd_get_direct(const char* key, char* dest, std::size_t destSize) {
    return get_direct(secondStore(), key, dest, destSize);
}

int env_get(const char* key, char* dest, std::size_t destSize) {
    return envAccessMode == 1 ? env_get_cached(key, dest, destSize)
                              : env_get_direct(key, dest, destSize);
}

int envfd_get(const char* key, char* dest, std::size_t destSize) {
    return envAccessMode == 1 ? envfd_get_cached(key, dest, destSize)
                              : envfd_get_direct(key, dest, destSize);
}

int env_equals_cached(const char* key, const char* text) {
    return equals_with(env_get_cached, key, text);
}

int env_equals_direct(const char* key, const char* text) {
    return equals_with(env_get_direct, key, text);
}

int env_equals(const char* key, const char* text) {
    return envAccessMode == 1 ? env_equals_cached(key, text) : env_equals_direct(key, text);
}
