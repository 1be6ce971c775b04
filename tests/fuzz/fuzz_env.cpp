// The environment readers over any store listing (cached lookups read the dump file) and any
// output of the store tool (direct queries): the value is the one the line rules give, or a
// refusal when it does not fit, and the tool receives the key as one unaltered argument.
#include "fuzz.h"

#include "config/env.h"

static void setup() {
    fuzz_board_init("");
    // Both tools keep their arguments and print the file the target chose, whatever asked.
    const char* tool = "#!/bin/sh\nsim=\"${0%/usr/local/bin/*}/sim\"\n"
                       "printf '%s\\0' \"$@\" > \"$sim/tool.args\"\nexec cat \"$sim/tool.out\"\n";
    fuzz_write(ENV_MAIN_TOOL, tool);
    fuzz_write(ENV_SECOND_TOOL, tool);
    env_init(1);
}

FUZZ_TARGET(setup) {
    static constexpr std::size_t destSizes[] = {256, 1, 16, 64};
    static constexpr int (*readers[])(const char*, char*, std::size_t) = {
        env_get_cached, envfd_get_cached, env_get_direct, envfd_get_direct};
    const uint8_t how = in.byte();
    const bool direct = how % 4 >= 2, main = how % 2 == 0;
    const std::size_t n = destSizes[(how >> 2) % 4];
    const std::string key = in.text(64), content = in.rest();
    fuzz_write("/sim/tool.out", content);
    fuzz_remove("/sim/tool.args");
    std::optional<std::string> value;
    if (direct && !content.empty()) { // the first line, after its first '=' if any
        std::size_t pos = 0;
        value = fuzz_next_line(content, pos, main ? ENV_LINE_SIZE : ENVFD_DIRECT_LINE_SIZE);
        value->erase(0, value->find('=') + 1); // npos + 1: nothing
    } else if (!direct) { // a dump laid out here (a store's first one the tool's: the same text)
        fuzz_write(main ? env_dump_path_main() : env_dump_path_second(), content);
        value = fuzz_key_value(content, key, ENV_LINE_SIZE);
    }
    while (value && (value->ends_with('\n') || value->ends_with('\r') || value->ends_with(' ')))
        value->pop_back();
    if (value && value->size() >= n)
        value.reset(); // refused, not cut
    std::string dest = std::string(n, '\0') + FUZZ_GUARD;
    const int result = readers[how % 4](key.c_str(), dest.data(), n);
    FUZZ_CHECK(result == (value ? 1 : 0), "result %d\n", result);
    FUZZ_CHECK(dest.substr(n) == FUZZ_GUARD && dest.c_str() == value.value_or(""),
               "value '%s', expected '%s'\n", dest.c_str(), value.value_or("").c_str());
    FUZZ_CHECK(!direct || fuzz_read("/sim/tool.args") == key + '\0', "key '%s'\n", key.c_str());
}
