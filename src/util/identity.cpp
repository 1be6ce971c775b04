// device_identity and unit_type_get.
#include "util/identity.h"

#include "board/fpga.h"
#include "hw/hw.h"
#include "config/env.h"
#include "config/shell_arg.h"
#include "log/log.h"
#include "util/file_probe.h"

#include <cstdio>
#include <cstring>

namespace {

const char* board_type_text() {
    if (board_id_is_62() == 1)
        return "62";
    if (board_id_is_64() == 1)
        return "64";
    return "??";
}

int unit_type_default(char* dest, std::size_t destSize) {
    if (destSize > 0)
        std::snprintf(dest, destSize, "%s", UNIT_TYPE_DEFAULT);
    return 0;
}

} // namespace

int device_identity(const char* text, char* out, std::size_t outSize) {
    char buildDate[IDENTITY_BUILD_DATE_SIZE] = {};
    char ethaddr[IDENTITY_ETHADDR_SIZE] = {};
    char version[IDENTITY_VERSION_SIZE] = {};
    char appSource[IDENTITY_APP_SOURCE_SIZE] = {};
    // A field that cannot be read stays empty.
    cat_first_line(BUILD_DATE_FILE, buildDate, sizeof buildDate);
    cat_first_line(VERSION_FILE, version, sizeof version);
    cat_first_line(APP_SOURCE_FILE, appSource, sizeof appSource);
    env_get(ETHADDR_KEY, ethaddr, sizeof ethaddr);

    const char* variant = board_variant_is_t() == 1 ? "T" : "R";
    // The version register is signed: a negative one prints with eight digits, FFFF....
    unsigned fpga = static_cast<unsigned>(fpga_version());
    int n = std::snprintf(out, outSize, "ZuVo%sxx%s,%s,%X,%s,%s,%s,%s", board_type_text(), variant,
                          text, fpga, version, buildDate, ethaddr, appSource);
    if (n < 0 || static_cast<std::size_t>(n) >= outSize) {
        log_printf("device identity of %d characters does not fit %u bytes, refused\n", n,
                   static_cast<unsigned>(outSize));
        if (outSize > 0)
            out[0] = '\0';
        return 0;
    }
    return n;
}

int unit_type_get(char* dest, std::size_t destSize) {
    char command[HW_PATH_SIZE + 16] = "more ";
    if (shell_append_path(command, sizeof command, UNIT_TYPE_FILE) != 1) {
        log_printf("more %s: command line too long, not run\n", UNIT_TYPE_FILE);
        return unit_type_default(dest, destSize);
    }
    FILE* out = hw_popen(command, "r");
    if (out == nullptr)
        return unit_type_default(dest, destSize);
    char line[PROBE_LINE_SIZE] = {};
    if (std::fgets(line, sizeof line, out) == nullptr) {
        hw_pclose(out);
        return unit_type_default(dest, destSize);
    }
    hw_pclose(out);
    trim_line_end(line);
    std::size_t len = std::strlen(line);
    if (len + 1 > destSize) {
        log_printf("unit type of %u characters does not fit %u bytes, refused\n",
                   static_cast<unsigned>(len), static_cast<unsigned>(destSize));
        return unit_type_default(dest, destSize);
    }
    std::memcpy(dest, line, len + 1);
    return 1;
}
