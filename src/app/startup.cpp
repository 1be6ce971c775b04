// main's start-up: log target, configuration, board gates, then the hardware and the two
// audio paths. Configurations that must not run park the process; invalid addresses end it.
#include "app/startup.h"

#include "board/ak5701.h"
#include "board/audio_dev.h"
#include "board/fpga.h"
#include "board/gpio.h"
#include "hw/hw.h"
#include "board/max9850.h"
#include "codec/g711.h"
#include "config/env.h"
#include "config/para.h"
#include "log/log.h"
#include "net/counters.h"
#include "net/rx_path.h"
#include "net/tx_path.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

[[noreturn]] void park(unsigned seconds) {
    for (;;)
        sleep(seconds);
}

struct address_key {
    const char* key;
    char (bridge_params::*field)[PARAM_TEXT_SIZE];
    const char* message;
};

constexpr address_key addressKeys[] = {
    {"OUT_DEST", &bridge_params::outDest, "%s/OUT_DEST : %s, invalid\n"},
    {"OUT_SRC", &bridge_params::outSrc, "%s/OUT_SRC : %s, invalid\n"},
    {"IN_DEST", &bridge_params::inDest, "%s/IN_DEST : %s, invalid\n"},
    {"IN_SRC", &bridge_params::inSrc, "%s/IN_SRC : %s, invalid\n"},
};

constexpr int ADC_PORT = 1;
constexpr int AUDIO_RATE_HZ = 8000;
constexpr int ADC_INPUT = 1;
constexpr int ADC_SETUP_RUNS = 3;
constexpr unsigned ADC_SETUP_PAUSE_S = 2;

// The hardware bring-up and the two audio paths.
[[noreturn]] void run_hardware_and_audio(bridge_params& params, int version, int variantBoard) {
    fd_audioDev = open_audio_device();
    if (fd_audioDev == -1) {
        log_printf("Error! open %s\r\n", "fd_audioDev");
        std::exit(0);
    }
    enable_codec(version, variantBoard);
    log_printf("init Receiver !!!!!\n");
    for (int run = 0; run < ADC_SETUP_RUNS; ++run) {
        if (run > 0)
            sleep(ADC_SETUP_PAUSE_S);
        adc_setup(ADC_PORT, AUDIO_RATE_HZ, ADC_INPUT);
    }

    open_tx_socket(params.outDest, params.outSrc, &params.txLink, UDP_UNICAST_PORT);
    if (pthread_create(&params.txThreadId, nullptr, tx_thread, &params.txLink) != 0) {
        // Without its transmit thread the intercom would only listen: stop instead.
        log_printf("can't create the transmit thread\n");
        std::exit(1);
    }

    init_dac(AUDIO_RATE_HZ);
    audio_control(audio_request::control_b);

    open_rx_socket(params.inDest, params.inSrc, params.outSrc, &params.rxLink);
    rx_loop(&params.rxLink);
}

} // namespace

const char* base_name_of(const char* invocationPath) {
    const char* slash = std::strrchr(invocationPath, '/');
    return slash != nullptr ? slash + 1 : invocationPath;
}

int wants_screen_log(const char* baseName) {
    return std::strstr(baseName, "_to_screen") != nullptr ? 1 : 0;
}

int is_valid_ipv4(const char* text) {
    return inet_addr(text) != INADDR_NONE ? 1 : 0;
}

void drop_after_address(char* text) {
    // inet_addr reads an address up to the first blank and ignores the rest; the name lookup
    // of the transmit socket refuses such a text and would end the bridge after the ADC
    // set-ups. Dropped before the check, the rest can fail nothing later, and the address is
    // logged and used as inet_addr read it. A leading blank stays: that value stays invalid.
    trim_line_end(text);
    char* blank = text[0] != ' ' ? std::strchr(text, ' ') : nullptr;
    if (blank != nullptr)
        std::memset(blank, 0, std::strlen(blank));
}

void read_addresses(bridge_params& params, int variantBoard) {
    for (const address_key& k : addressKeys) {
        char* field = params.*k.field;
        const int found = para_get(PARA_FILE, k.key, field, PARAM_TEXT_SIZE);
        drop_after_address(field);
        if (found == 1 && is_valid_ipv4(field) == 1)
            continue;
        if (variantBoard == 1 && field == params.inSrc) {
            std::memset(params.inSrc, 0, sizeof params.inSrc); // no source filter
            continue;
        }
        log_printf(k.message, PARA_FILE, field);
        std::exit(0);
    }
}

int choose_max9850_address(int fpgaVersion, int variantBoard) {
    int addr = MAX9850_ADDR_DEFAULT;
    if (fpgaVersion == 257)
        addr = MAX9850_ADDR_ALT;
    if (fpgaVersion > 257 && variantBoard == 1)
        addr = MAX9850_ADDR_ALT;
    return addr;
}

int codec_gpio_line(int variantBoard) {
    return variantBoard == 1 ? CODEC_GPIO_LINE_VARIANT : CODEC_GPIO_LINE_OTHER;
}

void enable_codec(int fpgaVersion, int variantBoard) {
    if (fpgaVersion > 257) {
        const uintptr_t control = fpga_addr(fpga_reg::control);
        fpga_write16(control, fpga_read16(control) | FPGA_CONTROL_CODEC_RUN);
        return;
    }
    gpio_set(codec_gpio_line(variantBoard), 1);
}

void run_bridge(const char* invocationPath) {
    static bridge_params params;
    // First of all: from here on SIGUSR1 asks for the counters instead of ending the process.
    counters_request_init();

    // The full base name decides the log target; progName keeps what fits of it.
    const char* base = base_name_of(invocationPath);
    std::snprintf(params.progName, sizeof params.progName, "%s", base);
    if (wants_screen_log(base) == 1)
        log_to_screen();
    else
        log_to_file();
    log_set_path(LOG_FILE_PATH);
    env_init(1);
    map_fpga_banks();

    std::memset(params.outDest, 0, sizeof params.outDest);
    std::memset(params.outSrc, 0, sizeof params.outSrc);
    std::memset(params.inDest, 0, sizeof params.inDest);
    std::memset(params.inSrc, 0, sizeof params.inSrc);
    std::memset(params.waitValue, 0, sizeof params.waitValue);

    if (hw_access(PARA_FILE, F_OK) != 0 || hw_access(PARA_FILE, R_OK) != 0) {
        log_printf("no %s\n", PARA_FILE);
        park(10);
    }
    if (para_get(PARA_FILE, "WAIT", params.waitValue, sizeof params.waitValue) == 1 &&
        std::strcmp(params.waitValue, "on") == 0) {
        log_printf("WAIT is on\n");
        park(10);
    }
    const int variantBoard = board_variant_is_t();
    read_addresses(params, variantBoard);

    build_g711_tables();

    const int version = fpga_version();
    if (version == 256)
        park(100);
    if (env_get("INTERCOMM", params.intercommValue, sizeof params.intercommValue) == 1 &&
        std::strcmp(params.intercommValue, "0") == 0)
        park(100);

    max9850I2cAddr = choose_max9850_address(version, variantBoard);

    run_hardware_and_audio(params, version, variantBoard);
}
