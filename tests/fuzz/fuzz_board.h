// What every fuzz target shares: a simulated board made once per process, and small helpers
// to lay out files on it, read them back and take the fuzzer's input apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Ends the run with a message when a property does not hold: libFuzzer keeps the input, the
// replay program fails.
#define FUZZ_CHECK(cond, ...)                                                                      \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, #cond);          \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::fprintf(stderr, "\n");                                                            \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Makes a fresh board with scripts/new-board (once per process), adds the extra board.conf
// lines, points OBRABI_ROOT at it, attaches the board layer and logs into "/tmp/fuzz.log" of
// the board. The board is removed when the process ends normally.
void fuzz_board_init(const char* extraConf = "");

// The file behind a logical path of the board.
std::string fuzz_path(const char* logical);
void fuzz_write(const char* logical, const std::string& content, int mode = 0644);
// The whole file, and whether it exists.
bool fuzz_read(const char* logical, std::string& content);
void fuzz_remove(const char* logical);
// Whether the board's log file ends with text (a rotation may have emptied it before).
bool fuzz_log_ends_with(const std::string& text);

// The fuzzer's input, taken apart from the front.
struct fuzz_input {
    const uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;

    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    uint32_t word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | byte();
        return v;
    }
    // Bytes up to the next zero byte (dropped) or at most maxLen of them: a C string.
    std::string text(std::size_t maxLen) {
        std::string s;
        while (pos < size && s.size() < maxLen) {
            char c = static_cast<char>(data[pos++]);
            if (c == '\0')
                break;
            s.push_back(c);
        }
        return s;
    }
    std::string rest() {
        std::string s(reinterpret_cast<const char*>(data) + pos, size - pos);
        pos = size;
        return s;
    }
};
