// para_get: one key of the parameter file; the file is opened, scanned and closed every call.
#include "config/para.h"

#include "hw/hw.h"
#include "log/log.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void copy_printable(char* dest, const char* src, std::size_t count) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto c = static_cast<unsigned char>(src[i]);
        if (c > 13)
            dest[out++] = static_cast<char>(c);
    }
}

namespace {

// Opens the file for reading. A FIFO, a directory or a device never blocks the caller: the
// open does not wait for a writer, and anything but a regular file reads as a file without
// keys (*notRegular set, nullptr returned).
FILE* open_regular(const char* real, bool* notRegular) {
    *notRegular = false;
    int fd = open(real, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *notRegular = true;
        close(fd);
        return nullptr;
    }
    FILE* f = fdopen(fd, "r");
    if (f == nullptr)
        close(fd);
    return f;
}

} // namespace

int para_get(const char* path, const char* key, char* dest, std::size_t destSize) {
    char real[HW_PATH_SIZE];
    bool notRegular = false;
    FILE* f = hw_path(path, real, sizeof real) == 1 ? open_regular(real, &notRegular) : nullptr;
    if (notRegular)
        return 0;
    if (f == nullptr) {
        log_printf("can't open %s!!!\n", path);
        return 0;
    }
    const std::size_t keyLen = std::strlen(key);
    char line[PARA_LINE_SIZE];
    for (;;) {
        std::memset(line, 0, sizeof line);
        if (std::fgets(line, PARA_READ_SIZE, f) == nullptr)
            break;
        if (std::strncmp(line, key, keyLen) != 0 || line[keyLen] != '=')
            continue;
        const char* value = line + keyLen + 1;
        // The value is bounded by the read size; the destination bounds it once more.
        std::size_t len = std::strlen(value);
        char clean[PARA_READ_SIZE] = {};
        copy_printable(clean, value, len);
        std::size_t cleanLen = std::strlen(clean);
        if (destSize > 0) {
            std::size_t n = cleanLen < destSize - 1 ? cleanLen : destSize - 1;
            std::memcpy(dest, clean, n);
        }
        std::fclose(f);
        return 1;
    }
    std::fclose(f);
    return 0;
}
