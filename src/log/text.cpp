// Small text routines shared by the logger and the environment store reader.
#include "log/log.h"

#include <cstring>
#include <sys/stat.h>

int32_t file_size(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0)
        return -1;
    return static_cast<int32_t>(st.st_size);
}

void trim_line_end(char* text) {
    size_t n = std::strlen(text);
    while (n > 0) {
        char c = text[n - 1];
        if (c != '\n' && c != '\r' && c != ' ')
            break;
        text[--n] = '\0';
    }
}
