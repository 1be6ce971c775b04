// para_get: one key of the parameter file; the file is opened, scanned and closed every call.
#include "config/para.h"

#include "board/hw.h"
#include "log/log.h"

#include <cstdio>
#include <cstring>

void copy_printable(char* dest, const char* src, std::size_t count) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto c = static_cast<unsigned char>(src[i]);
        if (c > 13)
            dest[out++] = static_cast<char>(c);
    }
}

int para_get(const char* path, const char* key, char* dest, std::size_t destSize) {
    char real[HW_PATH_SIZE];
    FILE* f = hw_path(path, real, sizeof real) == 1 ? std::fopen(real, "r") : nullptr;
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
