// hex_dump_marked and hex_dump: a count of zero or less logs only the opening and closing.
#include "util/hex_dump.h"

#include "log/log.h"

namespace {

constexpr int BYTES_PER_LINE = 16;

} // namespace

void hex_dump_marked(const uint8_t* bytes, int count) {
    log_printf(">>\n");
    for (int i = 0; i < count; ++i) {
        if (i % BYTES_PER_LINE == 0)
            log_printf("\n");
        log_printf("%02X ", bytes[i]);
    }
    log_printf("\n");
}

void hex_dump(const uint8_t* bytes, int count) {
    log_printf("\n");
    for (int i = 0; i < count; ++i) {
        log_printf("%02X ", bytes[i]);
        if (i % BYTES_PER_LINE == BYTES_PER_LINE - 1)
            log_printf("\n");
    }
    log_printf("\n");
}
