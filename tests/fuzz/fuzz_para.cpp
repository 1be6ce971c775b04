// para_get over any parameter file and any key: the value it gives is the one the line rules
// give, within the destination, and nothing is written past the destination.
#include "fuzz_board.h"

#include "config/para.h"

#include <cstring>

namespace {

constexpr std::size_t destSizes[] = {256, 1, 9, 40};
constexpr std::size_t GUARD = 16;

// The lines as the reader sees them: at most 255 bytes each, or up to and with the LF; each
// looked at as a C string. Result 1 and the value, or 0.
int expected(const std::string& file, const std::string& key, std::size_t destSize,
             std::string& value) {
    for (std::size_t pos = 0; pos < file.size();) {
        std::size_t end = pos;
        while (end < file.size() && end - pos < PARA_READ_SIZE - 1 && file[end++] != '\n') {
        }
        const std::string line = file.substr(pos, end - pos).c_str();
        pos = end;
        if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 ||
            line[key.size()] != '=')
            continue;
        value.clear();
        for (std::size_t i = key.size() + 1; i < line.size(); ++i)
            if (static_cast<unsigned char>(line[i]) > 13)
                value.push_back(line[i]);
        value.resize(std::min(value.size(), destSize - 1));
        return 1;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_board_init();
    fuzz_input in{data, size};
    const uint8_t how = in.byte();
    const std::size_t destSize = destSizes[how % 4];
    const bool missing = (how & 0x80) != 0;
    const std::string key = in.text(64);
    const std::string file = in.rest();
    if (missing)
        fuzz_remove(PARA_FILE);
    else
        fuzz_write(PARA_FILE, file);

    char dest[256 + GUARD];
    std::memset(dest, 0, destSize);
    std::memset(dest + destSize, 0xA5, GUARD);
    const int result = para_get(PARA_FILE, key.c_str(), dest, destSize);

    for (std::size_t i = 0; i < GUARD; ++i)
        FUZZ_CHECK(static_cast<uint8_t>(dest[destSize + i]) == 0xA5, "written past %zu", destSize);
    if (missing) {
        FUZZ_CHECK(result == 0, "missing file gave %d", result);
        FUZZ_CHECK(fuzz_log_ends_with("can't open /var/obraBi_para!!!\n"),
                   "missing file not logged");
        return 0;
    }
    std::string value;
    const int want = expected(file, key, destSize, value);
    FUZZ_CHECK(result == want, "result %d, expected %d", result, want);
    FUZZ_CHECK(dest[destSize - 1] == '\0', "destination of %zu not terminated", destSize);
    if (want == 1)
        FUZZ_CHECK(std::strcmp(dest, value.c_str()) == 0, "value '%s', expected '%s'", dest,
                   value.c_str());
    else
        FUZZ_CHECK(dest[0] == '\0', "destination touched without a match");
    return 0;
}
