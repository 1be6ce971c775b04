// safe_open: fixed files under /tmp without following links, waiting on FIFOs, or writing into
// another user's file.
#include "log/safe_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Never follow a link, never wait (a FIFO opened for writing without a reader fails with
// ENXIO at once instead), never hand the file to a child, never take a terminal.
constexpr int SAFE_FLAGS = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

int access_flags(safe_mode mode) {
    switch (mode) {
    case safe_mode::read:
        return O_RDONLY;
    case safe_mode::append:
        return O_RDWR | O_APPEND;
    case safe_mode::rewrite:
    case safe_mode::fresh:
        break;
    }
    return O_WRONLY;
}

// What a file found at a fixed path is, when it is not one to take; nullptr when it is.
const char* refusal(const struct stat& st) {
    if (S_ISLNK(st.st_mode))
        return "a symbolic link";
    if (S_ISFIFO(st.st_mode))
        return "a FIFO";
    if (S_ISDIR(st.st_mode))
        return "a directory";
    if (!S_ISREG(st.st_mode))
        return "a device or socket";
    if (st.st_uid != geteuid())
        return "a file of another user";
    if (st.st_nlink > 1)
        return "a file with another hard link";
    if (st.st_nlink == 0)
        return "a removed file";
    return nullptr;
}

void say(char* why, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void say(char* why, std::size_t size, const char* format, ...) {
    if (size == 0)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(why, size, format, args);
    va_end(args);
}

// What stands at path, for the removal's message: what refusal() names, or "a file".
const char* what_is_at(const char* path) {
    struct stat st {};
    if (lstat(path, &st) != 0)
        return nullptr;
    const char* kind = refusal(st);
    return kind != nullptr ? kind : "a file";
}

} // namespace

int safe_open(const char* path, safe_mode mode, char* why, std::size_t whySize) {
    const int flags = access_flags(mode) | SAFE_FLAGS;
    for (int attempt = 0; attempt < SAFE_OPEN_TRIES; ++attempt) {
        const char* inTheWay = nullptr;
        if (mode == safe_mode::fresh) {
            inTheWay = what_is_at(path);
        } else {
            const int fd = open(path, flags);
            struct stat st {};
            if (fd >= 0) {
                if (fstat(fd, &st) != 0) {
                    const int err = errno;
                    close(fd);
                    say(why, whySize, "%s", std::strerror(err));
                    return -1;
                }
                inTheWay = refusal(st);
                if (inTheWay == nullptr) {
                    if (mode == safe_mode::rewrite && ftruncate(fd, 0) != 0) {
                        const int err = errno;
                        close(fd);
                        say(why, whySize, "%s", std::strerror(err));
                        return -1;
                    }
                    return fd;
                }
                close(fd);
            } else if (errno != ENOENT || mode == safe_mode::read) {
                // A link (ELOOP), a FIFO without a reader (ENXIO), a directory (EISDIR) are
                // told apart by what stands there; anything else is the system's reason.
                const int err = errno;
                if (err == ENOENT || lstat(path, &st) != 0 || (inTheWay = refusal(st)) == nullptr) {
                    say(why, whySize, "%s", std::strerror(err));
                    return -1;
                }
            }
            if (inTheWay != nullptr && mode == safe_mode::read) {
                say(why, whySize, "%s, not read", inTheWay);
                return -1;
            }
        }
        // unlink removes a link itself, never what it names.
        if (inTheWay != nullptr && unlink(path) != 0 && errno != ENOENT) {
            say(why, whySize, "%s in the way cannot be removed: %s", inTheWay,
                std::strerror(errno));
            return -1;
        }
        const int fd = open(path, flags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST) {
            say(why, whySize, "%s", std::strerror(errno));
            return -1;
        }
        // Something was put there between the removal and the creation: look again.
    }
    say(why, whySize, "something was put back at the path %d times", SAFE_OPEN_TRIES);
    return -1;
}

long long safe_file_size(const char* path) {
    struct stat st {};
    if (lstat(path, &st) != 0 || refusal(st) != nullptr)
        return -1;
    return static_cast<long long>(st.st_size);
}

int write_whole(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return 1;
}

std::FILE* safe_read_stream(const char* path) {
    char why[SAFE_WHY_SIZE] = {};
    const int fd = safe_open(path, safe_mode::read, why, sizeof why);
    std::FILE* f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (f == nullptr && fd >= 0)
        close(fd);
    return f;
}

int write_stream(int fd, std::FILE* from) {
    char piece[SAFE_STREAM_PIECE_SIZE];
    int ok = 1;
    std::size_t n = 0;
    while ((n = std::fread(piece, 1, sizeof piece, from)) > 0)
        ok &= write_whole(fd, piece, n);
    return ok;
}
