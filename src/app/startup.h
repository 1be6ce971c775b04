// The start-up sequence of the bridge, in steps that tests can run one at a time.
#pragma once

#include "app/bridge_params.h"

inline constexpr const char* LOG_FILE_PATH = "/tmp/.print_obraBi";

// The base name of an invocation path: the text after its last "/", or all of it.
const char* base_name_of(const char* invocationPath);
// A base name that contains "_to_screen" logs to standard output.
int wants_screen_log(const char* baseName);
// 1 when inet_addr accepts the text (the all-ones address and empty text do not count).
int is_valid_ipv4(const char* text);
// Drops trailing blanks, and whatever follows a blank after the address ("1.2.3.4 # peer"), in
// place: the text that inet_addr reads as the address, without what it ignores.
void drop_after_address(char* text);
// Reads and checks the four addresses; ends the process on the first invalid one.
void read_addresses(bridge_params& params, int variantBoard);
// The MAX9850 address for this FPGA version and board.
int choose_max9850_address(int fpgaVersion, int variantBoard);

// The GPIO line that runs the codec on FPGA versions up to 257.
inline constexpr int CODEC_GPIO_LINE_VARIANT = 11;
inline constexpr int CODEC_GPIO_LINE_OTHER = 6;
int codec_gpio_line(int variantBoard);
// Lets the codec run: the control register's run bit on FPGA versions above 257, otherwise
// the board's GPIO line driven to 1.
void enable_codec(int fpgaVersion, int variantBoard);

// The whole life of the bridge: never returns.
[[noreturn]] void run_bridge(const char* invocationPath);
