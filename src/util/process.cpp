// pidof_value, ppp0_link_up and stop_and_reboot.
#include "util/process.h"

#include "hw/hw.h"
#include "config/shell_arg.h"
#include "log/log.h"
#include "log/safe_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/reboot.h>
#include <unistd.h>

static_assert(REBOOT_RESTART == static_cast<int>(LINUX_REBOOT_CMD_RESTART));

namespace {

constexpr int PPP0_LINE_SIZE = 256;

} // namespace

int pidof_value(const char* name) {
    char buffer[PIDOF_COMMAND_SIZE] = "pidof ";
    if (shell_append_word(buffer, sizeof buffer, name) != 1) {
        log_printf("pidof %.40s: command line too long, not run\n", name);
        return 0;
    }
    FILE* out = hw_popen(buffer, "r");
    if (out == nullptr)
        return 0;
    std::memset(buffer, 0, sizeof buffer);
    int pid = 0;
    // pidof prints decimal process ids, the first without a leading zero.
    if (std::fgets(buffer, sizeof buffer, out) != nullptr)
        pid = static_cast<int>(std::strtoul(buffer, nullptr, 10));
    hw_pclose(out);
    return pid;
}

// The listing goes into the scratch file as "ifconfig ppp0 > /tmp/infPPP0" would put it there,
// but written by the process itself into a file safe_open has just created: nothing planted at
// the path in /tmp (a link, a FIFO) is followed or waited on.
int ppp0_link_up() {
    char removeCommand[HW_PATH_SIZE + 64] = "rm ";
    char scratch[HW_PATH_SIZE];
    if (hw_path(PPP0_SCRATCH_FILE, scratch, sizeof scratch) != 1 ||
        shell_append_path(removeCommand, sizeof removeCommand, PPP0_SCRATCH_FILE) != 1) {
        log_printf("ppp0 check: %s does not fit a command line, not run\n", PPP0_SCRATCH_FILE);
        return 0;
    }
    char why[SAFE_WHY_SIZE] = {};
    const int out = safe_open(scratch, safe_mode::fresh, why, sizeof why);
    if (out >= 0) {
        FILE* listing = shell_popen("ifconfig ppp0", "r"); // its errors go to standard error
        if (listing != nullptr) {
            (void)write_stream(out, listing);
            shell_pclose(listing);
        }
        close(out);
    }
    FILE* f = safe_read_stream(scratch);
    int up = 0;
    if (f != nullptr) {
        char line[PPP0_LINE_SIZE] = {};
        up = std::fgets(line, sizeof line, f) != nullptr && std::strstr(line, "ppp0") != nullptr;
    }
    run_shell(removeCommand);
    if (f != nullptr)
        std::fclose(f);
    return up;
}

int stop_and_reboot() {
    hw_killall("zuvo");
    hw_killall("obra");
    sleep(1);
    return hw_reboot(REBOOT_RESTART);
}
