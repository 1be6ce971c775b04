// Shell words in fixed buffers: nothing written past the buffer, nothing cut and run.
#include "shell/shell.h"

#include <cstring>

int shell_append_raw(char* buf, std::size_t size, const char* text) {
    std::size_t used = std::strlen(buf);
    std::size_t add = std::strlen(text);
    if (used + add + 1 > size)
        return 0;
    std::memcpy(buf + used, text, add + 1);
    return 1;
}

std::size_t shell_word_length(const char* text) {
    std::size_t n = 2; // the opening and the closing quote
    for (const char* p = text; *p != '\0'; ++p)
        n += *p == '\'' ? 4 : 1;
    return n;
}

int shell_append_word(char* buf, std::size_t size, const char* text) {
    std::size_t used = std::strlen(buf);
    if (used + shell_word_length(text) + 1 > size)
        return 0;
    char* o = buf + used;
    *o++ = '\'';
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\'') { // close the quote, an escaped quote, open again
            std::memcpy(o, "'\\''", 4);
            o += 4;
        } else {
            *o++ = *p;
        }
    }
    *o++ = '\'';
    *o = '\0';
    return 1;
}
