// The FPGA build date: BCD nibbles in registers 0x0A (year, month) and 0x0C (day).
#include "board/fpga.h"

#include "log/log.h"

namespace {

// Two nibbles as digits; a nibble above 9 counts with its plain value.
int bcd_pair(unsigned byte) {
    return 10 * static_cast<int>((byte >> 4) & 0xF) + static_cast<int>(byte & 0xF);
}

} // namespace

fpga_build_date fpga_build_date_read() {
    unsigned w = fpga_read16(fpga_addr(fpga_reg::date_word));
    unsigned d = fpga_read16(fpga_addr(fpga_reg::day_word));
    fpga_build_date date{2000 + bcd_pair(w >> 8), bcd_pair(w & 0xFF), bcd_pair(d >> 8)};
    log_printf("fpga version is %d/%d/%d\n", date.year, date.month, date.day);
    return date;
}

// Whether the build date lies on or before the given date, compared as dates: year, then
// month, then day. Result 1, or -1 when the build date is later.
int fpga_date_not_after(int year, int month, int day) {
    fpga_build_date b = fpga_build_date_read();
    if (b.year != year)
        return b.year < year ? 1 : -1;
    if (b.month != month)
        return b.month < month ? 1 : -1;
    return b.day <= day ? 1 : -1;
}

int fpga_date_at_least(int year, int month, int day) {
    fpga_build_date b = fpga_build_date_read();
    if (b.year != year)
        return b.year > year ? 1 : 0;
    if (b.month != month)
        return b.month > month ? 1 : 0;
    if (b.day != day)
        return b.day > day ? 1 : 0;
    return 1;
}

void print_fpga_version() {
    log_printf("\n\nFPGA_Version:%04X%04X\n", fpga_read16(fpga_addr(fpga_reg::date_word)),
               fpga_read16(fpga_addr(fpga_reg::day_word)));
}
