// The environment writers with any key and value: a command line that the writer takes hands
// the right tool the key and the value each as one unaltered argument; one it refuses is
// logged and runs nothing. Which lengths are taken is the writers' business, not checked here.
#include "fuzz.h"

#include "util/env_write.h"

static const char* ARGS[] = {"/sim/env.s.args", "/sim/env.fs.args"};

static void setup() {
    fuzz_board_init("");
    // Each writer tool keeps its arguments, a zero byte after each, in /sim/TOOL.args.
    const char* tool =
        "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"${0%/usr/local/bin/*}/sim/${0##*/}.args\"\n";
    fuzz_write(ENV_SET_TOOL, tool);
    fuzz_write(ENVFD_SET_TOOL, tool);
}

using writer = int (*)(const char*, uint32_t, const char*);
// bare, hex, int and text on the main store, then hex, int and text on the second one.
static constexpr writer writers[] = {
    [](const char* k, uint32_t, const char*) { return env_set_bare(k); },
    [](const char* k, uint32_t v, const char*) { return env_set_hex(k, v); },
    [](const char* k, uint32_t v, const char*) { return env_set_int(k, static_cast<int32_t>(v)); },
    [](const char* k, uint32_t, const char* t) { return env_set_str(k, t); },
    [](const char* k, uint32_t v, const char*) { return envfd_set_hex(k, v); },
    [](const char* k, uint32_t v, const char*) {
        return envfd_set_int(k, static_cast<int32_t>(v));
    },
    [](const char* k, uint32_t, const char* t) { return envfd_set_str(k, t); }};

FUZZ_TARGET(setup) {
    const uint8_t which = in.byte() % 7;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | in.byte();
    const std::string key = in.text(400), text = in.text(4000);
    fuzz_remove(ARGS[0]);
    fuzz_remove(ARGS[1]);
    const int result = writers[which](key.c_str(), value, text.c_str());
    char number[16];
    std::snprintf(number, sizeof number, which % 3 == 2 ? "%d" : "%x", value);
    const std::string args =
        key + '\0' + (which == 0 ? "" : (which % 3 == 0 ? text : number) + '\0');
    const bool second = which >= 4;
    const std::optional<std::string> got[] = {fuzz_read(ARGS[0]), fuzz_read(ARGS[1])};
    FUZZ_CHECK(result == 0 || result == 1, "result %d\n", result);
    FUZZ_CHECK(result == 1 || (!got[0] && !got[1] &&
                               fuzz_read("/tmp/fuzz.log").value_or("").ends_with(", not run\n")));
    FUZZ_CHECK(result == 0 || (got[second] == args && !got[!second]), "writer %d: %zu bytes\n",
               which, got[second].value_or("").size());
}
