// The simulated board directory: its root, its hardware settings and the request trace.
#include "sim/sim.h"

#include "sim/devices.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

namespace {

char rootPath[HW_PATH_SIZE];
sim_board_conf conf;
std::mutex traceMutex;
FILE* traceFile = nullptr;

int parse_u16(const char* text, uint16_t* out) {
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v > 0xFFFF)
        return 0;
    *out = static_cast<uint16_t>(v);
    return 1;
}

// A file named in board.conf, relative to R/sim unless absolute.
int sim_file(const char* value, char* out, size_t size) {
    int n = value[0] == '/' ? std::snprintf(out, size, "%s", value)
                            : std::snprintf(out, size, "%s/sim/%s", rootPath, value);
    return n > 0 && static_cast<size_t>(n) < size;
}

// A pipe named in board.conf; an empty value names none.
int pipe_file(const char* value, char* out, size_t size) {
    if (value[0] != '\0')
        return sim_file(value, out, size);
    out[0] = '\0';
    return 1;
}

int apply_setting(const char* key, const char* value) {
    if (std::strcmp(key, "board_id") == 0)
        return parse_u16(value, &conf.boardId);
    if (std::strcmp(key, "variant") == 0)
        return parse_u16(value, &conf.variant);
    if (std::strcmp(key, "fpga_version") == 0)
        return parse_u16(value, &conf.fpgaVersion);
    if (std::strcmp(key, "fpga_date") == 0) {
        char first[32] = {};
        char second[32] = {};
        if (std::sscanf(value, "%31s %31s", first, second) != 2)
            return 0;
        return parse_u16(first, &conf.fpgaDate[0]) && parse_u16(second, &conf.fpgaDate[1]);
    }
    if (std::strcmp(key, "capture") == 0)
        return sim_file(value, conf.capture, sizeof conf.capture);
    if (std::strcmp(key, "playback") == 0)
        return sim_file(value, conf.playback, sizeof conf.playback);
    if (std::strcmp(key, "trace") == 0)
        return sim_file(value, conf.trace, sizeof conf.trace);
    if (std::strcmp(key, "capture_log") == 0)
        return sim_file(value, conf.captureLog, sizeof conf.captureLog);
    if (std::strcmp(key, "playback_log") == 0)
        return sim_file(value, conf.playbackLog, sizeof conf.playbackLog);
    if (std::strcmp(key, "capture_pipe") == 0)
        return pipe_file(value, conf.capturePipe, sizeof conf.capturePipe);
    if (std::strcmp(key, "playback_pipe") == 0)
        return pipe_file(value, conf.playbackPipe, sizeof conf.playbackPipe);
    if (std::strcmp(key, "capture_loop") == 0) {
        if (std::strcmp(value, "0") != 0 && std::strcmp(value, "1") != 0)
            return 0;
        conf.captureLoop = value[0] - '0';
        return 1;
    }
    if (std::strcmp(key, "frame_us") == 0) {
        char* end = nullptr;
        errno = 0;
        unsigned long v = std::strtoul(value, &end, 10);
        if (errno != 0 || end == value || *end != '\0' || v < 100 || v > 10000000)
            return 0;
        conf.frameUs = static_cast<unsigned>(v);
        return 1;
    }
    return -1;
}

void strip(char* text) {
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' ||
                     text[n - 1] == '\t'))
        text[--n] = '\0';
    size_t lead = std::strspn(text, " \t");
    std::memmove(text, text + lead, std::strlen(text + lead) + 1);
}

void load_conf() {
    conf = sim_board_conf{};
    char path[2 * HW_PATH_SIZE];
    std::snprintf(path, sizeof path, "%s/sim/board.conf", rootPath);
    FILE* f = std::fopen(path, "re");
    if (f == nullptr)
        return;
    char line[2048];
    int lineNo = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        ++lineNo;
        strip(line);
        if (line[0] == '\0' || line[0] == '#')
            continue;
        char* eq = std::strchr(line, '=');
        if (eq == nullptr) {
            std::fprintf(stderr, "sim: board.conf line %d: not key=value: %s\n", lineNo, line);
            continue;
        }
        *eq = '\0';
        char* key = line;
        char* value = eq + 1;
        strip(key);
        strip(value);
        int ok = apply_setting(key, value);
        if (ok < 0)
            std::fprintf(stderr, "sim: board.conf: unknown key %s\n", key);
        else if (ok == 0)
            std::fprintf(stderr, "sim: board.conf: bad value for %s: %s\n", key, value);
    }
    std::fclose(f);
    if (conf.capturePipe[0] != '\0' && conf.capture[0] != '\0')
        std::fprintf(stderr, "sim: board.conf: capture_pipe is the microphone, capture unused\n");
}

} // namespace

int sim_attach(const char* root) {
    char resolved[PATH_MAX];
    if (root == nullptr || root[0] == '\0' || realpath(root, resolved) == nullptr) {
        std::fprintf(stderr, "sim: board directory %s not found\n", root ? root : "(none)");
        return 0;
    }
    struct stat st {};
    if (stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode) || std::strlen(resolved) > 512) {
        std::fprintf(stderr, "sim: %s is not a usable board directory\n", resolved);
        return 0;
    }
    sim_detach();
    std::memcpy(rootPath, resolved, std::strlen(resolved) + 1); // at most 512 characters
    load_conf();
    // A newly attached board starts with its chips in their power-on state.
    sim_reset_chips();
    if (conf.trace[0] != '\0') {
        std::lock_guard<std::mutex> hold(traceMutex);
        traceFile = std::fopen(conf.trace, "ae");
        if (traceFile == nullptr)
            std::fprintf(stderr, "sim: trace %s cannot be written: %s\n", conf.trace,
                         std::strerror(errno));
    }
    return 1;
}

void sim_detach() {
    std::lock_guard<std::mutex> hold(traceMutex);
    if (traceFile != nullptr)
        std::fclose(traceFile);
    traceFile = nullptr;
    rootPath[0] = '\0';
}

const char* sim_root() {
    return rootPath;
}
const sim_board_conf& sim_conf() {
    return conf;
}

void sim_set_conf(const sim_board_conf& newConf) {
    conf = newConf;
    std::lock_guard<std::mutex> hold(traceMutex);
    if (traceFile != nullptr)
        std::fclose(traceFile);
    traceFile = conf.trace[0] != '\0' ? std::fopen(conf.trace, "ae") : nullptr;
}

void sim_hex(const uint8_t* data, size_t len, char* out, size_t outSize) {
    static const char digits[] = "0123456789abcdef";
    size_t o = 0;
    for (size_t i = 0; i < len && o + 2 < outSize; ++i) {
        out[o++] = digits[data[i] >> 4];
        out[o++] = digits[data[i] & 0x0F];
    }
    if (outSize > 0)
        out[o] = '\0';
}

void sim_trace(const char* device, unsigned long request, const char* detailsFormat, ...) {
    char details[1024];
    va_list args;
    va_start(args, detailsFormat);
    std::vsnprintf(details, sizeof details, detailsFormat, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(traceMutex);
    if (traceFile == nullptr)
        return;
    std::fprintf(traceFile, "%s 0x%lx%s%s\n", device, request, details[0] ? " " : "", details);
    std::fflush(traceFile);
}

void sim_trace_line(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(traceMutex);
    if (traceFile == nullptr)
        return;
    std::fprintf(traceFile, "%s\n", line);
    std::fflush(traceFile);
}
