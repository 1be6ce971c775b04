// log_printf: standard output, or a log file rotated into one backup above 8192 bytes.
//
// In file mode the file is opened and closed around every message, so each message is
// with the operating system when log_printf returns and a log removed from outside is
// created afresh. Only the main thread logs; the logger takes no lock.
#include "log/log.h"

#include "board/hw.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

int logToScreen = 1;
int logAtLineStart = 1;
char logPath[LOG_PATH_SIZE];
char logBakPath[LOG_PATH_SIZE];

// Copies the log into the backup and reopens the log empty; the returned stream takes the
// message. The copy goes byte for byte in pieces of the read size: a log that holds zero
// bytes (a block left unwritten by a power loss, say) reaches the backup whole. A backup
// that cannot be written is noted on standard error; the log is emptied all the same, so
// that it stays bounded.
FILE* rotate_log(const char* path, const char* bakPath) {
    FILE* bak = std::fopen(bakPath, "w");
    FILE* log = std::fopen(path, "r");
    if (bak == nullptr)
        std::fprintf(stderr, "log backup %s cannot be written, log emptied\n", logBakPath);
    if (bak != nullptr && log != nullptr) {
        char piece[LOG_COPY_READ_SIZE];
        std::size_t n = 0;
        while ((n = std::fread(piece, 1, sizeof piece, log)) > 0)
            std::fwrite(piece, 1, n, bak);
    }
    if (bak != nullptr)
        std::fclose(bak);
    if (log != nullptr)
        std::fclose(log);
    return std::fopen(path, "w");
}

void write_time_prefix(FILE* out) {
    time_t now = time(nullptr);
    struct tm local {};
    char text[64] = {};
    localtime_r(&now, &local);
    if (asctime_r(&local, text) == nullptr)
        text[0] = '\0';
    trim_line_end(text);
    std::fprintf(out, "[%s] ", text);
}

} // namespace

void log_to_screen() {
    logToScreen = 1;
}
void log_to_file() {
    logToScreen = 0;
}
void log_reset_line_start() {
    logAtLineStart = 1;
}

int log_set_path(const char* path) {
    if (std::strlen(path) > static_cast<size_t>(LOG_PATH_MAX_LEN)) {
        std::fprintf(stderr, "log path longer than %d characters refused: %.60s...\n",
                     LOG_PATH_MAX_LEN, path);
        return 0;
    }
    std::snprintf(logPath, sizeof logPath, "%s", path);
    std::snprintf(logBakPath, sizeof logBakPath, "%s.bak", path);
    return 1;
}

void log_printf(const char* format, ...) {
    char message[LOG_MESSAGE_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, LOG_MESSAGE_SIZE - 1, format, args);
    va_end(args);

    if (logToScreen != 0) {
        // Flushed at once: a parked or killed process must not take its messages with it.
        std::fputs(message, stdout);
        std::fflush(stdout);
        return;
    }

    char path[HW_PATH_SIZE];
    char bakPath[HW_PATH_SIZE];
    FILE* out = nullptr;
    if (hw_path(logPath, path, sizeof path) == 1 &&
        hw_path(logBakPath, bakPath, sizeof bakPath) == 1) {
        if (file_size(path) > LOG_ROTATE_ABOVE)
            out = rotate_log(path, bakPath);
        else
            out = std::fopen(path, "a+");
    }
    if (out == nullptr) {
        // The message is not lost: it goes to standard error instead.
        std::fprintf(stderr, "%s", message);
        std::fflush(stderr);
        return;
    }

    if (logAtLineStart == 1) {
        write_time_prefix(out);
        logAtLineStart = 0;
    }
    size_t formatLen = std::strlen(format);
    if (formatLen > 0 && (format[formatLen - 1] == '\n' || format[formatLen - 1] == '\r'))
        logAtLineStart = 1;
    std::fputs(message, out);
    std::fclose(out);
}
