// sleep_seconds and wait_seconds.
#include "util/wait.h"

#include <sys/time.h>
#include <unistd.h>

unsigned sleep_seconds(unsigned seconds) {
    return sleep(seconds);
}

int wait_seconds(int seconds) {
    timeval start{};
    gettimeofday(&start, nullptr);
    for (;;) {
        timeval now{};
        gettimeofday(&now, nullptr);
        long elapsed = static_cast<long>(now.tv_sec - start.tv_sec);
        if (now.tv_usec - start.tv_usec < 0)
            --elapsed;
        usleep(1000);
        if (elapsed >= seconds)
            return 0;
    }
}
