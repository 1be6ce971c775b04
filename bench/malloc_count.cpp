// malloc_count: an LD_PRELOAD library that counts heap allocations of the process it is
// loaded into (malloc, calloc, realloc and the aligned forms; operator new goes through
// malloc). On SIGUSR2 it appends "allocations N" to the file named by MALLOC_COUNT_FILE,
// so a measurement asks for the count once start-up is over and again later: the difference
// is what the running process allocated in between.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* old, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<unsigned long> allocations{0};
const char* reportPath = nullptr;

void count() {
    allocations.fetch_add(1, std::memory_order_relaxed);
}

// Only async-signal-safe calls: open, write, close.
void report(int) {
    if (reportPath == nullptr)
        return;
    char text[40] = "allocations ";
    char digits[24];
    int n = 0;
    unsigned long v = allocations.load(std::memory_order_relaxed);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && n < static_cast<int>(sizeof digits));
    size_t len = 12;
    while (n > 0)
        text[len++] = digits[--n];
    text[len++] = '\n';
    const int fd = open(reportPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    (void)!write(fd, text, len);
    close(fd);
}

__attribute__((constructor)) void install() {
    reportPath = std::getenv("MALLOC_COUNT_FILE");
    struct sigaction sa {};
    sa.sa_handler = report;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR2, &sa, nullptr);
}

} // namespace

extern "C" {

void* malloc(size_t size) noexcept {
    count();
    return __libc_malloc(size);
}

void* calloc(size_t n, size_t size) noexcept {
    count();
    return __libc_calloc(n, size);
}

void* realloc(void* old, size_t size) noexcept {
    count();
    return __libc_realloc(old, size);
}

void* memalign(size_t alignment, size_t size) noexcept {
    count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    count();
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr)
        return 12; // ENOMEM
    *out = p;
    return 0;
}
}
