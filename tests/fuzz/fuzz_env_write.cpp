// The environment writers with any key and value: a command line that the writer takes hands
// the right tool the key and the value each as one unaltered argument; one it refuses is
// logged and runs nothing. Which lengths are taken is the writers' business, not checked here.
#include "fuzz_board.h"

#include "util/env_write.h"

#include <cinttypes>

namespace {

// Each writer tool keeps its arguments, one zero byte after each, in its own file.
constexpr const char* MAIN_ARGS = "/sim/env.s.args";
constexpr const char* SECOND_ARGS = "/sim/env.fs.args";

void write_tool(const char* tool, const char* argsFile) {
    fuzz_write(tool,
               std::string("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"${0%/usr/local/bin/*}") +
                   argsFile + "\"\n",
               0755);
}

std::string number(const char* format, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        fuzz_board_init();
        write_tool(ENV_SET_TOOL, MAIN_ARGS);
        write_tool(ENVFD_SET_TOOL, SECOND_ARGS);
        ready = true;
    }
    fuzz_input in{data, size};
    const uint8_t which = in.byte() % 7;
    const uint32_t value = in.word();
    const std::string key = in.text(400);
    const std::string text = in.text(4000);
    fuzz_remove(MAIN_ARGS);
    fuzz_remove(SECOND_ARGS);

    const char* k = key.c_str();
    const auto signedValue = static_cast<int32_t>(value);
    int result = 0;
    std::string args = key + '\0';
    bool second = false;
    switch (which) {
    case 0:
        result = env_set_bare(k);
        break;
    case 1:
        result = env_set_hex(k, value);
        args += number("%" PRIx32, value) + '\0';
        break;
    case 2:
        result = env_set_int(k, signedValue);
        args += number("%" PRId32, value) + '\0';
        break;
    case 3:
        result = env_set_str(k, text.c_str());
        args += text + '\0';
        break;
    case 4:
        second = true;
        result = envfd_set_hex(k, value);
        args += number("%" PRIx32, value) + '\0';
        break;
    case 5:
        second = true;
        result = envfd_set_int(k, signedValue);
        args += number("%" PRId32, value) + '\0';
        break;
    default:
        second = true;
        result = envfd_set_str(k, text.c_str());
        args += text + '\0';
        break;
    }

    std::string gotMain;
    std::string gotSecond;
    const bool ranMain = fuzz_read(MAIN_ARGS, gotMain);
    const bool ranSecond = fuzz_read(SECOND_ARGS, gotSecond);
    const std::string& got = second ? gotSecond : gotMain;
    FUZZ_CHECK(result == 0 || result == 1, "result %d", result);
    if (result == 0) {
        FUZZ_CHECK(!ranMain && !ranSecond, "a refused command line ran");
        FUZZ_CHECK(fuzz_log_ends_with(", not run\n"), "refusal not logged");
        return 0;
    }
    FUZZ_CHECK(ranMain != second && ranSecond == second, "writer %d ran the wrong tool", which);
    FUZZ_CHECK(got == args, "writer %d: the tool got %zu bytes of arguments, expected %zu", which,
               got.size(), args.size());
    return 0;
}
