// What every fuzz target shares: a simulated board made once per process, files on it laid out
// and read back, the fuzzer's input taken apart, a guarded destination, the line rules of the
// readers, and, in the builds without libFuzzer (FUZZ_REPLAY), the replay program.
#pragma once

#include "board/hw.h"
#include "log/log.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Ends the run when a property does not hold: libFuzzer keeps the input, the replay fails.
#define FUZZ_CHECK(cond, ...)                                                                      \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, #cond);          \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::fprintf(stderr, "\n");                                                            \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

inline bool fuzz_read_file(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    content = s.str();
    return in.is_open();
}
// The file behind a logical path of the board.
inline std::string fuzz_path(const char* logical) {
    char real[HW_PATH_SIZE];
    FUZZ_CHECK(hw_path(logical, real, sizeof real) == 1, "%s", logical);
    return real;
}
inline void fuzz_write(const char* logical, const std::string& content, int mode = 0644) {
    std::ofstream(fuzz_path(logical), std::ios::binary | std::ios::trunc) << content;
    chmod(fuzz_path(logical).c_str(), static_cast<mode_t>(mode));
}
inline bool fuzz_read(const char* logical, std::string& content) {
    return fuzz_read_file(fuzz_path(logical), content);
}
inline void fuzz_remove(const char* logical) {
    unlink(fuzz_path(logical).c_str());
}
// Whether the board's log file ends with text (a rotation may have emptied it before).
inline bool fuzz_log_ends_with(const std::string& text) {
    std::string log;
    return fuzz_read("/tmp/fuzz.log", log) && log.ends_with(text);
}

// Makes a fresh board with scripts/new-board and the extra board.conf lines, points
// OBRABI_ROOT at it, attaches the board layer and logs into "/tmp/fuzz.log" of the board. The
// board is removed when the process ends normally.
inline void fuzz_board_init(const char* extraConf) {
    static char root[] = "/tmp/obrabi-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(root) != nullptr, "no temporary directory");
    std::atexit([] { (void)std::system((std::string("rm -rf '") + root + "'").c_str()); });
    const std::string make =
        std::string("'") + OBRABI_SOURCE_DIR + "/scripts/new-board' '" + root + "' >/dev/null";
    FUZZ_CHECK(std::system(make.c_str()) == 0, "%s failed", make.c_str());
    std::ofstream(std::string(root) + "/sim/board.conf", std::ios::app) << extraConf;
    setenv("OBRABI_ROOT", root, 1);
    hw_init();
    log_to_file();
    FUZZ_CHECK(log_set_path("/tmp/fuzz.log") == 1, "log path");
}

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
        while (pos < size && s.size() < maxLen && data[pos] != 0)
            s.push_back(static_cast<char>(data[pos++]));
        pos += pos < size && s.size() < maxLen; // the zero byte
        return s;
    }
    std::string rest() {
        std::string s(reinterpret_cast<const char*>(data) + pos, size - pos);
        pos = size;
        return s;
    }
};

// A cleared destination of size bytes (at most 256), with a guard behind it that must stay.
struct fuzz_dest {
    std::size_t size;
    char buf[256 + 16] = {};
    explicit fuzz_dest(std::size_t n) : size(n) { std::memset(buf + n, 0xA5, 16); }
    void check_guard() const {
        for (std::size_t i = size; i < size + 16; ++i)
            FUZZ_CHECK(static_cast<uint8_t>(buf[i]) == 0xA5, "written past %zu", size);
    }
};

// The next line that a read of readSize gives, as a C string; pos moves past it.
inline std::string fuzz_next_line(const std::string& text, std::size_t& pos, std::size_t readSize) {
    const std::size_t start = pos;
    while (pos < text.size() && pos - start < readSize - 1 && text[pos++] != '\n') {
    }
    return text.substr(start, pos - start).c_str();
}
// What follows "key=" on the first line so read that begins with it; false when none does.
inline bool fuzz_key_value(const std::string& text, const std::string& key, std::size_t readSize,
                           std::string& value) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::string line = fuzz_next_line(text, pos, readSize);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
            value = line.substr(key.size() + 1);
            return true;
        }
    }
    return false;
}

// Defines the target: setup runs once, on a board made with the extra board.conf lines, then
// the body that follows for every input, taken from `in`.
#define FUZZ_TARGET(extraConf, setup)                                                              \
    static void fuzz_one(fuzz_input& in);                                                          \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                      \
        static const bool ready = (fuzz_board_init(extraConf), setup(), true);                     \
        fuzz_input in{data, size};                                                                 \
        fuzz_one(in);                                                                              \
        return ready ? 0 : 1;                                                                      \
    }                                                                                              \
    static void fuzz_one(fuzz_input& in)

#ifdef FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Every file named, or found in a folder named, is one input; a missing folder has none.
inline void fuzz_collect(const std::string& path, std::vector<std::string>& files) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        files.push_back(path);
    if (DIR* dir = S_ISDIR(st.st_mode) ? opendir(path.c_str()) : nullptr) {
        while (const dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                fuzz_collect(path + "/" + e->d_name, files);
        closedir(dir);
    }
}
// Replays the seed corpus and the kept regression inputs; fails when there is no input at all.
int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        fuzz_collect(argv[i], files);
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
        std::string input;
        fuzz_read_file(f, input);
        std::fprintf(stderr, "replay %s (%zu bytes)\n", f.c_str(), input.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return files.empty() ? 1 : 0;
}
#endif
