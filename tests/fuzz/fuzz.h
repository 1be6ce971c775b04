// What every fuzz target shares: a simulated board and its files, the fuzzer's input taken
// apart, the readers' line rules, and the replay program of the builds without libFuzzer.
#pragma once

#include "hw/hw.h"
#include "log/log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>

// Ends the run when a property does not hold: libFuzzer keeps the input, the replay fails.
#define FUZZ_CHECK(cond, ...)                                                                      \
    ((cond) ? (void)0                                                                              \
            : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond),       \
               __VA_OPT__(std::fprintf(stderr, __VA_ARGS__), ) std::abort()))

// The board's root: a logical path of the board names the file below it.
inline std::string fuzz_root = "/tmp/obrabi-fuzz-XXXXXX";
// A whole file, or nothing when it does not exist.
inline std::optional<std::string> fuzz_read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::optional(std::string(std::istreambuf_iterator<char>(in), {})) : std::nullopt;
}
inline std::optional<std::string> fuzz_read(const std::string& logical) {
    return fuzz_read_file(fuzz_root + logical);
}
// Keeps the mode of a file that exists: the board's tools stay executable.
inline void fuzz_write(const std::string& logical, const std::string& content) {
    std::ofstream(fuzz_root + logical, std::ios::binary) << content;
}
inline void fuzz_remove(const std::string& logical) {
    unlink((fuzz_root + logical).c_str());
}

// Makes a fresh board with scripts/new-board and the extra board.conf lines, attaches the
// board layer to it and logs into its "/tmp/fuzz.log". The board goes when the process ends.
inline void fuzz_board_init(const char* extraConf) {
    FUZZ_CHECK(mkdtemp(fuzz_root.data()) != nullptr);
    std::atexit([] { (void)std::system(("rm -rf '" + fuzz_root + "'").c_str()); });
    const std::string make = "'" OBRABI_SOURCE_DIR "/scripts/new-board' '" + fuzz_root + "'";
    FUZZ_CHECK(std::system((make + " >/dev/null").c_str()) == 0, "%s failed\n", make.c_str());
    std::ofstream(fuzz_root + "/sim/board.conf", std::ios::app) << extraConf;
    setenv("OBRABI_ROOT", fuzz_root.c_str(), 1);
    hw_init();
    log_to_file();
    FUZZ_CHECK(log_set_path("/tmp/fuzz.log") == 1);
}

// The fuzzer's input, taken apart from the front; past its end, bytes are 0.
struct fuzz_input {
    const uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;

    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    std::string rest() { return std::string(data + std::exchange(pos, size), data + size); }
    // Bytes up to the next zero byte (dropped) or at most maxLen of them: a C string.
    std::string text(std::size_t maxLen) {
        const uint8_t* end = data + std::min(size, pos + maxLen);
        const uint8_t* zero = std::find(data + pos, end, 0);
        return std::string(data + std::exchange(pos, zero - data + (zero != end)), zero);
    }
};

// Put behind a reader's destination; a reader that writes past its destination changes it.
inline const std::string FUZZ_GUARD(16, '\xA5');

// The next line that a read of readSize gives, as a C string; pos moves past it.
inline std::string fuzz_next_line(const std::string& text, std::size_t& pos, std::size_t readSize) {
    const std::size_t start = pos;
    while (pos < text.size() && pos - start < readSize - 1 && text[pos++] != '\n') {
    }
    return text.substr(start, pos - start).c_str();
}
// What follows "key=" on the first line so read that begins with it, or nothing.
inline std::optional<std::string> fuzz_key_value(const std::string& text, const std::string& key,
                                                 std::size_t readSize) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::string line = fuzz_next_line(text, pos, readSize);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
            return line.substr(key.size() + 1);
    }
    return std::nullopt;
}

// Defines the target: setup runs once, before the first input, then the body that follows for
// every input, taken from `in`.
#define FUZZ_TARGET(...)                                                                           \
    static void fuzz_one(fuzz_input&& in);                                                         \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                      \
        [[maybe_unused]] static const bool ready = ((__VA_ARGS__)(), true);                        \
        return fuzz_one({data, size}), 0;                                                          \
    }                                                                                              \
    static void fuzz_one(fuzz_input&& in)

#ifdef FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Runs every input file named, in turn; fails on a failing input, or when none is named.
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string input = fuzz_read_file(argv[i]).value_or("");
        std::fprintf(stderr, "replay %s (%zu bytes)\n", argv[i], input.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    return argc > 1 ? 0 : 1;
}
#endif
