// The environment readers over any store listing (cached lookups read the dump file) and any
// output of the store tool (direct queries): the value is the one the line rules give, or a
// refusal when it does not fit, and the tool receives the key as one unaltered argument.
#include "fuzz.h"

#include "config/env.h"

namespace {

constexpr const char* TOOL_OUTPUT = "/sim/tool.out";
constexpr const char* TOOL_ARGS = "/sim/tool.args";

void setup() {
    // Both tools print the file the target chose, whatever they are asked, and keep their
    // arguments.
    const char* tool = "#!/bin/sh\nsim=\"${0%/usr/local/bin/*}/sim\"\n"
                       "printf '%s\\0' \"$@\" > \"$sim/tool.args\"\nexec cat \"$sim/tool.out\"\n";
    fuzz_write(ENV_MAIN_TOOL, tool, 0755);
    fuzz_write(ENV_SECOND_TOOL, tool, 0755);
    env_init(1);
    // The first cached lookups take the dumps; afterwards a dump is taken again only when its
    // file is empty, so that the target can lay out the dump itself.
    fuzz_write(TOOL_OUTPUT, "k=v\n");
    char value[ENV_VALUE_SIZE] = {};
    FUZZ_CHECK(env_get_cached("k", value, sizeof value) == 1 &&
                   envfd_get_cached("k", value, sizeof value) == 1,
               "first dumps");
}

} // namespace

FUZZ_TARGET("", setup) {
    static constexpr std::size_t destSizes[] = {256, 1, 16, 64};
    static constexpr int (*readers[])(const char*, char*, std::size_t) = {
        env_get_cached, envfd_get_cached, env_get_direct, envfd_get_direct};
    const uint8_t how = in.byte();
    fuzz_dest dest(destSizes[(how >> 2) % 4]);
    const std::string key = in.text(64);
    const std::string content = in.rest();
    const bool direct = how % 4 >= 2;
    const bool main = how % 2 == 0;
    fuzz_write(TOOL_OUTPUT, content);
    fuzz_remove(TOOL_ARGS);
    std::string value;
    bool found = false;
    if (direct) { // the first line, after its first '=' if any
        std::size_t pos = 0;
        value = fuzz_next_line(content, pos, main ? ENV_LINE_SIZE : ENVFD_DIRECT_LINE_SIZE);
        value.erase(0, value.find('=') == std::string::npos ? 0 : value.find('=') + 1);
        found = !content.empty();
    } else {
        fuzz_write(main ? env_dump_path_main() : env_dump_path_second(), content);
        found = fuzz_key_value(content, key, ENV_LINE_SIZE, value);
    }
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' '))
        value.pop_back();
    const int result = readers[how % 4](key.c_str(), dest.buf, dest.size);
    const int want = found && value.size() < dest.size ? 1 : 0;
    dest.check_guard();
    FUZZ_CHECK(result == want, "result %d, expected %d for '%s'", result, want, value.c_str());
    if (want == 0)
        value.clear();
    FUZZ_CHECK(std::memcmp(dest.buf, value.c_str(), value.size() + 1) == 0,
               "value '%s', expected '%s'", dest.buf, value.c_str());
    std::string args;
    FUZZ_CHECK(!direct || (fuzz_read(TOOL_ARGS, args) && args == key + '\0'),
               "tool got '%s' for the key '%s'", args.c_str(), key.c_str());
}
