// Shell words in fixed buffers: nothing written past the buffer, nothing cut and run.
#include "config/shell_arg.h"

#include "board/hw.h"

#include <cstring>

int shell_append_raw(char* buf, std::size_t size, const char* text) {
    std::size_t used = std::strlen(buf);
    std::size_t add = std::strlen(text);
    if (used + add + 1 > size)
        return 0;
    std::memcpy(buf + used, text, add + 1);
    return 1;
}

int shell_append_word(char* buf, std::size_t size, const char* text) {
    std::size_t used = std::strlen(buf);
    std::size_t o = used;
    auto put = [&](char c) {
        if (o + 1 >= size)
            return false;
        buf[o++] = c;
        return true;
    };
    bool ok = put('\'');
    for (const char* p = text; ok && *p != '\0'; ++p) {
        if (*p == '\'') // close the quote, an escaped quote, open again
            ok = put('\'') && put('\\') && put('\'') && put('\'');
        else
            ok = put(*p);
    }
    ok = ok && put('\'');
    if (!ok) {
        buf[used] = '\0';
        return 0;
    }
    buf[o] = '\0';
    return 1;
}

int shell_append_path(char* buf, std::size_t size, const char* logicalPath) {
    char real[HW_PATH_SIZE];
    if (hw_path(logicalPath, real, sizeof real) != 1)
        return 0;
    return shell_append_word(buf, size, real);
}
