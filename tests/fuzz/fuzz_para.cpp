// para_get over any parameter file and any key: the value it gives is the one the line rules
// give, without control bytes, cut to the destination, and nothing is written past it.
#include "fuzz.h"

#include "config/para.h"

FUZZ_TARGET("", [] {}) {
    static constexpr std::size_t destSizes[] = {256, 1, 9, 40};
    const uint8_t how = in.byte();
    fuzz_dest dest(destSizes[how % 4]);
    const bool missing = (how & 0x80) != 0;
    const std::string key = in.text(64);
    const std::string file = in.rest();
    if (missing)
        fuzz_remove(PARA_FILE);
    else
        fuzz_write(PARA_FILE, file);
    const int result = para_get(PARA_FILE, key.c_str(), dest.buf, dest.size);
    dest.check_guard();
    if (missing) {
        FUZZ_CHECK(result == 0 && fuzz_log_ends_with("can't open /var/obraBi_para!!!\n"),
                   "missing file gave %d or was not logged", result);
        return;
    }
    std::string value;
    const int want = fuzz_key_value(file, key, PARA_READ_SIZE, value) ? 1 : 0;
    std::erase_if(value, [](char c) { return static_cast<unsigned char>(c) <= 13; });
    value.resize(std::min(value.size(), dest.size - 1));
    FUZZ_CHECK(result == want, "result %d, expected %d", result, want);
    FUZZ_CHECK(std::strcmp(dest.buf, value.c_str()) == 0 && dest.buf[dest.size - 1] == '\0',
               "value '%s', expected '%s'", dest.buf, value.c_str());
}
