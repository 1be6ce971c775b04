// env_commit: the stores written to flash by env.u, one commit at a time per process.
#include "util/env_write.h"

#include "hw/hw.h"
#include "config/shell_arg.h"
#include "log/log.h"

#include <pthread.h>
#include <unistd.h>

namespace {

// Serialises commits between the threads of this process; never destroyed.
pthread_mutex_t flashLock = PTHREAD_MUTEX_INITIALIZER;

} // namespace

int env_commit() {
    while (pthread_mutex_trylock(&flashLock) != 0) {
        log_printf("fail to pthread_mutex_trylock for flash\n");
        sleep(1);
    }
    char command[HW_PATH_SIZE + 64] = {};
    if (shell_append_path(command, sizeof command, ENV_COMMIT_TOOL) == 1 &&
        shell_append_raw(command, sizeof command, " 1> /dev/null 2> /dev/null") == 1)
        hw_system(command);
    else
        log_printf("%s: command line too long, not run\n", ENV_COMMIT_TOOL);
    pthread_mutex_unlock(&flashLock);
    return 0;
}
