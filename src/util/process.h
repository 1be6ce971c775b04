// Running commands through popen and asking about processes and the PPP link.
#pragma once

#include "shell/shell.h" // run_shell

#include <cstddef>

// Commands given to run_popen: at most 127 characters.
inline constexpr std::size_t RUN_POPEN_COMMAND_SIZE = 128;
// pidof_value's command line, "pidof 'NAME'" with its terminator.
inline constexpr std::size_t PIDOF_COMMAND_SIZE = 128;
inline constexpr const char* PPP0_SCRATCH_FILE = "/tmp/infPPP0";
// LINUX_REBOOT_CMD_RESTART: the board restarts without syncing its file systems.
inline constexpr int REBOOT_RESTART = 0x01234567;

// Starts the command with popen and waits for it without reading its output. 1 when it could
// be started; 0 when it could not, or when it is longer than 127 characters (then not run).
int run_popen(const char* command);
// The process id of a running process of that name (the first "pidof" prints), or 0 when none
// runs or the name does not fit the command line.
int pidof_value(const char* name);
// 1 when the interface ppp0 exists (its "ifconfig" listing names it), 0 otherwise. The listing
// passes through the scratch file /tmp/infPPP0, which is gone again on return.
int ppp0_link_up();
// Stops the board's applications ("killall zuvo", "killall obra"), waits a second and restarts
// the board. Returns only when the restart is refused, with the refusal's result.
int stop_and_reboot();
