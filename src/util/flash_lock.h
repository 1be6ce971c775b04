// The cross-process flash write lock: a POSIX record lock over the whole of /var/writeFlash.
//
// flash_file_lock takes the write lock and holds it, on a descriptor kept open, until
// flash_file_unlock; meanwhile another process's flash_file_lock fails after its attempts.
// Record locks exclude other processes only, never other threads of this one.
#pragma once

inline constexpr const char* FLASH_LOCK_FILE = "/var/writeFlash";
inline constexpr unsigned FLASH_LOCK_FILE_MODE = 0700;
inline constexpr int FLASH_LOCK_ATTEMPTS = 16;
inline constexpr unsigned FLASH_LOCK_PAUSE_US = 100000; // between attempts, none after the last

// 1 when the write lock on /var/writeFlash is held, 0 when another process kept it through
// every attempt or the file cannot be opened (reported with perror and the path).
int flash_file_lock();
// Releases the lock and closes its descriptor; 1 when the unlock request succeeded. Without a
// held lock the file is opened, unlocked and closed, which also gives 1.
int flash_file_unlock();

// One non-blocking F_SETLK over the whole file: 1 on success, 0 on failure.
int fd_set_write_lock(int fd);
int fd_clear_lock(int fd);
// 1 when another process holds a write lock on the file; a failed query gives 0.
int fd_is_write_locked(int fd);
