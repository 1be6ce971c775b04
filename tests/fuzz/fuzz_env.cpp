// The environment readers over any store listing (cached lookups read the dump file) and any
// output of the store tool (direct queries): the value is the one the line rules give, or a
// refusal when it does not fit, and the tool receives the key as one unaltered argument.
#include "fuzz_board.h"

#include "config/env.h"

#include <cstring>

namespace {

constexpr std::size_t destSizes[] = {256, 1, 16, 64};
constexpr std::size_t GUARD = 16;
constexpr const char* TOOL_OUTPUT = "/sim/tool.out";
constexpr const char* TOOL_ARGS = "/sim/tool.args";

// Both readers print the file the fuzzer chose, whatever they are asked, and keep their
// arguments.
constexpr const char* READER_TOOL = "#!/bin/sh\n"
                                    "sim=\"${0%/usr/local/bin/*}/sim\"\n"
                                    "printf '%s\\0' \"$@\" > \"$sim/tool.args\"\n"
                                    "exec cat \"$sim/tool.out\"\n";

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The next line that a read of size readSize gives, as a C string; pos moves past it.
std::string next_line(const std::string& text, std::size_t& pos, std::size_t readSize) {
    std::size_t end = pos;
    while (end < text.size() && end - pos < readSize - 1 && text[end++] != '\n') {
    }
    std::string line = text.substr(pos, end - pos).c_str();
    pos = end;
    return line;
}

int fits(const std::string& value, std::size_t destSize) {
    return value.size() + 1 <= destSize ? 1 : 0;
}

int expected_cached(const std::string& dump, const std::string& key, std::size_t destSize,
                    std::string& value) {
    for (std::size_t pos = 0; pos < dump.size();) {
        const std::string line = next_line(dump, pos, ENV_LINE_SIZE);
        if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 ||
            line[key.size()] != '=')
            continue;
        value = trimmed(line.substr(key.size() + 1));
        return fits(value, destSize);
    }
    return 0;
}

int expected_direct(const std::string& output, std::size_t readSize, std::size_t destSize,
                    std::string& value) {
    if (output.empty())
        return 0;
    std::size_t pos = 0;
    const std::string line = next_line(output, pos, readSize);
    const std::size_t eq = line.find('=');
    value = trimmed(eq == std::string::npos ? line : line.substr(eq + 1));
    return fits(value, destSize);
}

void init() {
    static bool done = false;
    if (done)
        return;
    done = true;
    fuzz_board_init();
    fuzz_write(ENV_MAIN_TOOL, READER_TOOL, 0755);
    fuzz_write(ENV_SECOND_TOOL, READER_TOOL, 0755);
    env_init(1);
    // The first cached lookups take the dumps; afterwards a dump is taken again only when its
    // file is empty, so that the target can lay out the dump itself.
    fuzz_write(TOOL_OUTPUT, "k=v\n");
    char value[ENV_VALUE_SIZE] = {};
    FUZZ_CHECK(env_get_cached("k", value, sizeof value) == 1, "first dump");
    FUZZ_CHECK(envfd_get_cached("k", value, sizeof value) == 1, "first dump");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    init();
    fuzz_input in{data, size};
    const uint8_t how = in.byte();
    const std::size_t destSize = destSizes[(how >> 2) % 4];
    const std::string key = in.text(64);
    const std::string content = in.rest();
    fuzz_write(TOOL_OUTPUT, content);
    fuzz_remove(TOOL_ARGS);

    char dest[256 + GUARD];
    std::memset(dest, 0, destSize);
    std::memset(dest + destSize, 0xA5, GUARD);
    std::string value;
    int result = 0;
    int want = 0;
    bool direct = false;
    switch (how % 4) {
    case 0:
    case 1: {
        const bool main = how % 4 == 0;
        fuzz_write(main ? env_dump_path_main() : env_dump_path_second(), content);
        result = main ? env_get_cached(key.c_str(), dest, destSize)
                      : envfd_get_cached(key.c_str(), dest, destSize);
        want = expected_cached(content, key, destSize, value);
        break;
    }
    case 2:
        direct = true;
        result = env_get_direct(key.c_str(), dest, destSize);
        want = expected_direct(content, ENV_LINE_SIZE, destSize, value);
        break;
    default:
        direct = true;
        result = envfd_get_direct(key.c_str(), dest, destSize);
        want = expected_direct(content, ENVFD_DIRECT_LINE_SIZE, destSize, value);
        break;
    }

    for (std::size_t i = 0; i < GUARD; ++i)
        FUZZ_CHECK(static_cast<uint8_t>(dest[destSize + i]) == 0xA5, "written past %zu", destSize);
    FUZZ_CHECK(result == want, "result %d, expected %d for '%s'", result, want, value.c_str());
    if (want == 1)
        FUZZ_CHECK(std::memcmp(dest, value.c_str(), value.size() + 1) == 0,
                   "value '%s', expected '%s'", dest, value.c_str());
    else
        FUZZ_CHECK(dest[0] == '\0', "destination touched without a value");
    if (direct) {
        std::string args;
        FUZZ_CHECK(fuzz_read(TOOL_ARGS, args), "tool not run for '%s'", key.c_str());
        FUZZ_CHECK(args == key + '\0', "tool got '%s' for the key '%s'", args.c_str(), key.c_str());
    }
    return 0;
}
