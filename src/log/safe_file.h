// Opening the fixed files that the process keeps in a folder every local user can write into
// (/tmp): the log, its backup and the environment dumps.
//
// The bridge runs as root, so a symbolic link planted at such a path would have it write
// wherever the link points, a hard link planted there (which passes a no-follow open) would
// have it write into the file linked, and a FIFO would hold it until someone reads. A fixed
// path is therefore opened without following a link, without waiting, and taken only when it
// is a regular file of the process's own user with no other name. Anything else found there
// is refused and, unless the file is only read, removed (root may, also in a sticky /tmp) and
// replaced by a fresh file created exclusively.
#pragma once

#include <cstddef>
#include <cstdio>

enum class safe_mode {
    read,    // an existing file, read from the start; nothing is removed or created
    append,  // read, and written at the end (the log); created when missing
    rewrite, // written from the start, emptied first (the backup); created when missing
    fresh,   // always a new, empty file (the dumps): whatever is at the path is removed first
};

// Attempts to create the file after removing what was in the way, before giving up on someone
// who keeps putting something back at the path.
inline constexpr int SAFE_OPEN_TRIES = 3;
// Room for the reason of a failure, with its terminator.
inline constexpr std::size_t SAFE_WHY_SIZE = 128;
// The pieces write_stream reads and writes.
inline constexpr std::size_t SAFE_STREAM_PIECE_SIZE = 1024;

// Opens the file at path (a path as the system sees it, already resolved) as mode says. A file
// created here gets the mode 0666 less the umask, as fopen creates one. Result: a descriptor,
// close-on-exec, positioned at the start; or -1 with a short reason written into why (for
// example "a symbolic link in the way cannot be removed: Operation not permitted").
int safe_open(const char* path, safe_mode mode, char* why, std::size_t whySize);

// The size of the file at path when safe_open would take it as it is (a regular file of this
// user with no other name), otherwise -1: missing, a link, a FIFO and so on. Follows no link.
long long safe_file_size(const char* path);

// safe_open's read mode as a stdio stream (close-on-exec), or nullptr.
std::FILE* safe_read_stream(const char* path);

// Writes all of data to fd, again after a short write or an interruption. 1, or 0 on failure.
int write_whole(int fd, const void* data, std::size_t size);

// Writes everything the stream gives, to its end, to fd (a tool's output into a file that
// safe_open made). 1, or 0 when a write failed; the rest of the stream is read all the same.
int write_stream(int fd, std::FILE* from);
