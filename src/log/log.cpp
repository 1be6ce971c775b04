// log_printf: standard output, or a log file rotated into one backup above 8192 bytes.
//
// In file mode the file is opened and closed around every message, so each message is
// with the operating system when log_printf returns and a log removed from outside is
// created afresh. Log and backup are opened by safe_open: never through a link, never a
// FIFO, never another user's file; whatever stands there in place of the file is replaced.
// File mode uses no stdio stream and no heap: the message and the time prefix are formatted
// into fixed buffers and written with write(2). Only the main thread logs; the logger takes
// no lock.
#include "log/log.h"

#include "hw/hw.h"
#include "log/safe_file.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

int logToScreen = 1;
int logAtLineStart = 1;
char logPath[LOG_PATH_SIZE];
char logBakPath[LOG_PATH_SIZE];
// 1 once standard error was told why the messages come there; cleared when the log is
// written again, so that the next failure is explained too.
int logFallbackTold = 0;

// "[Mon Dec  7 01:46:30 2026] ": the asctime text of 24 characters in brackets, and room.
constexpr std::size_t PREFIX_SIZE = 64;

void write_stderr(const char* text) {
    (void)write_whole(STDERR_FILENO, text, std::strlen(text));
}

// Copies the log (open as log) into the backup and empties the log; the message then goes
// to the emptied log. The copy goes byte for byte in pieces of the read size: a log that
// holds zero bytes (a block left unwritten by a power loss, say) reaches the backup whole. A
// backup that cannot be written is noted on standard error; the log is emptied all the same,
// so that it stays bounded.
void rotate_log(int log, const char* bakPath) {
    char why[SAFE_WHY_SIZE] = {};
    const int bak = safe_open(bakPath, safe_mode::rewrite, why, sizeof why);
    if (bak < 0) {
        char note[LOG_PATH_SIZE + SAFE_WHY_SIZE + 64];
        std::snprintf(note, sizeof note, "log backup %s cannot be written (%s), log emptied\n",
                      logBakPath, why);
        write_stderr(note);
    } else {
        char piece[LOG_COPY_READ_SIZE];
        ssize_t n = 0;
        while ((n = read(log, piece, sizeof piece)) > 0)
            (void)write_whole(bak, piece, static_cast<std::size_t>(n));
        close(bak);
    }
    (void)ftruncate(log, 0);
}

void format_time_prefix(char (&prefix)[PREFIX_SIZE]) {
    time_t now = time(nullptr);
    struct tm local {};
    char text[PREFIX_SIZE - 4] = {}; // asctime_r wants 26; the brackets and blank fit beside
    localtime_r(&now, &local);
    if (asctime_r(&local, text) == nullptr)
        text[0] = '\0';
    trim_line_end(text);
    std::snprintf(prefix, sizeof prefix, "[%s] ", text);
}

// Prefix and message in one write where the system takes them whole, the rest after.
void write_entry(int fd, const char* prefix, const char* message) {
    const std::size_t prefixLen = std::strlen(prefix);
    const std::size_t messageLen = std::strlen(message);
    iovec parts[2] = {{const_cast<char*>(prefix), prefixLen},
                      {const_cast<char*>(message), messageLen}};
    ssize_t n = writev(fd, parts, 2);
    std::size_t done = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (done < prefixLen) {
        (void)write_whole(fd, prefix + done, prefixLen - done);
        done = prefixLen;
    }
    (void)write_whole(fd, message + (done - prefixLen), messageLen - (done - prefixLen));
}

// The log cannot be written: the message goes to standard error, after one line saying why.
void fall_back(const char* why, const char* message) {
    if (logFallbackTold == 0) {
        char note[LOG_PATH_SIZE + SAFE_WHY_SIZE + 64];
        std::snprintf(note, sizeof note,
                      "log %s cannot be written (%s), messages go to standard "
                      "error\n",
                      logPath, why);
        write_stderr(note);
        logFallbackTold = 1;
    }
    write_stderr(message);
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
    char why[SAFE_WHY_SIZE] = "path too long for the board directory";
    int fd = -1;
    if (hw_path(logPath, path, sizeof path) == 1 &&
        hw_path(logBakPath, bakPath, sizeof bakPath) == 1)
        fd = safe_open(path, safe_mode::append, why, sizeof why);
    if (fd < 0) {
        fall_back(why, message);
        return;
    }
    logFallbackTold = 0;

    // The size of the file just opened: a link at the path is never measured.
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size > LOG_ROTATE_ABOVE)
        rotate_log(fd, bakPath);

    char prefix[PREFIX_SIZE] = {};
    if (logAtLineStart == 1) {
        format_time_prefix(prefix);
        logAtLineStart = 0;
    }
    size_t formatLen = std::strlen(format);
    if (formatLen > 0 && (format[formatLen - 1] == '\n' || format[formatLen - 1] == '\r'))
        logAtLineStart = 1;
    write_entry(fd, prefix, message);
    close(fd);
}
