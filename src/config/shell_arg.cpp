// shell_append_path: a board path, resolved by the seam, as one shell word.
#include "config/shell_arg.h"

#include "hw/hw.h"

int shell_append_path(char* buf, std::size_t size, const char* logicalPath) {
    char real[HW_PATH_SIZE];
    if (hw_path(logicalPath, real, sizeof real) != 1)
        return 0;
    return shell_append_word(buf, size, real);
}
