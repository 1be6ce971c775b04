// The flash write lock on /var/writeFlash, between two processes.
#include "board/hw.h"
#include "util/flash_lock.h"
#include "util_board.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs body in a child process and gives its exit status (or -1 when it did not exit).
template <typename Body> int in_child(Body body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

int open_lock_file(const util_board& b) {
    return open(b.path(FLASH_LOCK_FILE).c_str(), O_RDWR | O_CREAT, 0700);
}

TEST(FlashLock, HeldUntilUnlockSoThatAnotherProcessFailsMeanwhile) {
    util_board b;
    ASSERT_EQ(flash_file_lock(), 1);
    // Another process sees the lock and cannot take it, through all its attempts.
    EXPECT_EQ(in_child([&] {
                  int fd = open_lock_file(b);
                  return fd_is_write_locked(fd) * 10 + flash_file_lock();
              }),
              10);
    // Once it is released, the other process gets it at once.
    EXPECT_EQ(flash_file_unlock(), 1);
    EXPECT_EQ(in_child([&] {
                  int fd = open_lock_file(b);
                  return fd_is_write_locked(fd) * 10 + flash_file_lock();
              }),
              1);
}

TEST(FlashLock, ALockThatGoesAwayBetweenAttemptsIsTaken) {
    util_board b;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        int fd = open_lock_file(b);
        int ok = fd_set_write_lock(fd);
        char c = static_cast<char>('0' + ok);
        (void)!write(ready[1], &c, 1);
        usleep(400000);
        _exit(0); // the lock goes with the process
    }
    ASSERT_GT(holder, 0);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, '1');
    int fd = open_lock_file(b);
    EXPECT_EQ(fd_is_write_locked(fd), 1);
    EXPECT_EQ(flash_file_lock(), 1);
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_EQ(flash_file_unlock(), 1);
    close(fd);
    close(ready[0]);
    close(ready[1]);
}

TEST(FlashLock, TheLockFileIsCreatedOnFirstUse) {
    util_board b;
    ASSERT_FALSE(b.exists(FLASH_LOCK_FILE));
    mode_t mask = umask(022);
    EXPECT_EQ(flash_file_lock(), 1);
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(b.path(FLASH_LOCK_FILE).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(flash_file_unlock(), 1);
    // Unlocking without a held lock succeeds too.
    EXPECT_EQ(flash_file_unlock(), 1);
}

TEST(FlashLock, OwnLocksAreNotReportedAndAnUnopenableFileGivesZero) {
    util_board b;
    int fd = open_lock_file(b);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fd_set_write_lock(fd), 1);
    EXPECT_EQ(fd_is_write_locked(fd), 0);
    EXPECT_EQ(fd_clear_lock(fd), 1);
    close(fd);
    EXPECT_EQ(fd_set_write_lock(-1), 0);
    EXPECT_EQ(fd_clear_lock(-1), 0);
    EXPECT_EQ(fd_is_write_locked(-1), 0);

    std::string cmd = "rm -rf '" + b.path("/var") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(flash_file_lock(), 0);
    EXPECT_EQ(flash_file_unlock(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(contains(err, "/var/writeFlash: ")) << err;
}

} // namespace
