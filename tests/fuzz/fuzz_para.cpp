// para_get over any parameter file and any key: the value it gives is the one the line rules
// give, without control bytes, cut to the destination, and nothing is written past it.
#include "fuzz.h"

#include "config/para.h"

FUZZ_TARGET([] { fuzz_board_init(""); }) {
    static constexpr std::size_t destSizes[] = {256, 1, 9, 40};
    const uint8_t how = in.byte();
    const bool missing = (how & 0x80) != 0;
    const std::size_t n = destSizes[how % 4];
    const std::string key = in.text(64), file = in.rest();
    missing ? fuzz_remove(PARA_FILE) : fuzz_write(PARA_FILE, file);
    std::string dest = std::string(n, '\0') + FUZZ_GUARD;
    const int result = para_get(PARA_FILE, key.c_str(), dest.data(), n);
    const auto found = missing ? std::nullopt : fuzz_key_value(file, key, PARA_READ_SIZE);
    std::string value = found.value_or("");
    std::erase_if(value, [](char c) { return static_cast<unsigned char>(c) <= 13; });
    value.resize(std::min(value.size(), n - 1));
    FUZZ_CHECK(result == (found ? 1 : 0) &&
                   dest == value + std::string(n - value.size(), '\0') + FUZZ_GUARD,
               "result %d, value '%s', expected '%s'\n", result, dest.c_str(), value.c_str());
    FUZZ_CHECK(
        !missing ||
        fuzz_read("/tmp/fuzz.log").value_or("").ends_with("can't open /var/obraBi_para!!!\n"));
}
