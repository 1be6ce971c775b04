// The environment writers with any key and value: a command line that the writer takes hands
// the right tool the key and the value each as one unaltered argument; one it refuses is
// logged and runs nothing. Which lengths are taken is the writers' business, not checked here.
#include "fuzz.h"

#include "util/env_write.h"

#include <cinttypes>

namespace {

// Each writer tool keeps its arguments, one zero byte after each, in its own file.
constexpr const char* ARGS[] = {"/sim/env.s.args", "/sim/env.fs.args"};

void setup() {
    for (int i = 0; i < 2; ++i)
        fuzz_write(i == 0 ? ENV_SET_TOOL : ENVFD_SET_TOOL,
                   std::string("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"${0%/usr/local/bin/*}") +
                       ARGS[i] + "\"\n",
                   0755);
}

using writer = int (*)(const char*, uint32_t, const char*);
// bare, hex, int and text on the main store, then hex, int and text on the second one.
constexpr writer writers[] = {
    [](const char* k, uint32_t, const char*) { return env_set_bare(k); },
    [](const char* k, uint32_t v, const char*) { return env_set_hex(k, v); },
    [](const char* k, uint32_t v, const char*) { return env_set_int(k, static_cast<int32_t>(v)); },
    [](const char* k, uint32_t, const char* t) { return env_set_str(k, t); },
    [](const char* k, uint32_t v, const char*) { return envfd_set_hex(k, v); },
    [](const char* k, uint32_t v, const char*) {
        return envfd_set_int(k, static_cast<int32_t>(v));
    },
    [](const char* k, uint32_t, const char* t) { return envfd_set_str(k, t); }};

} // namespace

FUZZ_TARGET("", setup) {
    const uint8_t which = in.byte() % 7;
    const uint32_t value = in.word();
    const std::string key = in.text(400);
    const std::string text = in.text(4000);
    fuzz_remove(ARGS[0]);
    fuzz_remove(ARGS[1]);
    const int result = writers[which](key.c_str(), value, text.c_str());

    char number[16];
    if (which % 3 == 2)
        std::snprintf(number, sizeof number, "%" PRId32, static_cast<int32_t>(value));
    else
        std::snprintf(number, sizeof number, "%" PRIx32, value);
    std::string args = key + '\0';
    if (which != 0)
        args += (which % 3 == 0 ? text : std::string(number)) + '\0';
    const bool second = which >= 4;
    std::string got[2];
    const bool ran[] = {fuzz_read(ARGS[0], got[0]), fuzz_read(ARGS[1], got[1])};
    FUZZ_CHECK(result == 0 || result == 1, "result %d", result);
    if (result == 0) {
        FUZZ_CHECK(!ran[0] && !ran[1] && fuzz_log_ends_with(", not run\n"),
                   "a refused command line ran or was not logged");
        return;
    }
    FUZZ_CHECK(ran[second] && !ran[!second], "writer %d ran the wrong tool", which);
    FUZZ_CHECK(got[second] == args, "writer %d: the tool got %zu bytes of arguments, expected %zu",
               which, got[second].size(), args.size());
}
