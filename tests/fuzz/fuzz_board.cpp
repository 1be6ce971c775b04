#include "fuzz_board.h"

#include "board/hw.h"
#include "log/log.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string boardRoot;

void remove_board() {
    if (boardRoot.rfind("/tmp/obrabi-fuzz-", 0) == 0)
        (void)std::system(("rm -rf '" + boardRoot + "'").c_str());
}

} // namespace

void fuzz_board_init(const char* extraConf) {
    if (!boardRoot.empty())
        return;
    char tmpl[] = "/tmp/obrabi-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(tmpl) != nullptr, "no temporary directory");
    boardRoot = tmpl;
    std::atexit(remove_board);
    const std::string make =
        std::string("'") + OBRABI_SOURCE_DIR + "/scripts/new-board' '" + boardRoot + "' >/dev/null";
    FUZZ_CHECK(std::system(make.c_str()) == 0, "%s failed", make.c_str());
    std::ofstream(boardRoot + "/sim/board.conf", std::ios::app) << extraConf;
    setenv("OBRABI_ROOT", boardRoot.c_str(), 1);
    hw_init();
    log_to_file();
    FUZZ_CHECK(log_set_path("/tmp/fuzz.log") == 1, "log path");
}

std::string fuzz_path(const char* logical) {
    char real[HW_PATH_SIZE];
    FUZZ_CHECK(hw_path(logical, real, sizeof real) == 1, "%s", logical);
    return real;
}

void fuzz_write(const char* logical, const std::string& content, int mode) {
    const std::string p = fuzz_path(logical);
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
    chmod(p.c_str(), static_cast<mode_t>(mode));
}

bool fuzz_read(const char* logical, std::string& content) {
    std::ifstream in(fuzz_path(logical), std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    content = s.str();
    return true;
}

void fuzz_remove(const char* logical) {
    unlink(fuzz_path(logical).c_str());
}

bool fuzz_log_ends_with(const std::string& text) {
    std::string log;
    return fuzz_read("/tmp/fuzz.log", log) && log.size() >= text.size() &&
           log.compare(log.size() - text.size(), text.size(), text) == 0;
}
