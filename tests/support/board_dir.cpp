#include "support/board_dir.h"

#include "sim/sim.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

board_dir::board_dir(bool dirs) {
    char tmpl[] = "/tmp/obrabi-test-XXXXXX";
    const char* made = mkdtemp(tmpl);
    EXPECT_NE(made, nullptr);
    root_ = made ? made : "/tmp";
    if (!dirs)
        return;
    for (const char* d : {"/dev", "/var", "/tmp", "/etc", "/sim", "/usr/local/bin"})
        std::filesystem::create_directories(root_ + d);
    EXPECT_EQ(sim_attach(root_.c_str()), 1);
}

board_dir::~board_dir() {
    sim_detach();
    std::error_code failed;
    if (root_.rfind("/tmp/obrabi-test-", 0) == 0 &&
        (std::filesystem::remove_all(root_, failed), failed))
        ADD_FAILURE() << root_ << " not removed: " << failed.message();
}

void board_dir::write(const std::string& logical, const std::string& content, int mode) const {
    std::string p = path(logical);
    std::filesystem::create_directories(p.substr(0, p.rfind('/')));
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
    chmod(p.c_str(), static_cast<mode_t>(mode));
}

std::string board_dir::read(const std::string& logical) const {
    return read_file(path(logical));
}

void board_dir::add_devices() const {
    for (const char* d : {"mem", "codec_audioBi", "spidev.0", "spidev.1", "spidev.2", "i2c-sw",
                          "codec-gpio1", "codec", "spi-sw"})
        write(std::string("/dev/") + d, "");
}

void board_dir::configure(const std::string& boardConf) const {
    write("/sim/board.conf", boardConf);
    EXPECT_EQ(sim_attach(root_.c_str()), 1);
}

lines board_dir::traced(const std::string& prefix) const {
    lines out;
    std::istringstream in(read("/sim/trace.log"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line);
    return out;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

lines spi_tx(const board_dir& b, int port) {
    lines out;
    for (const std::string& l : b.traced("/dev/spidev." + std::to_string(port) + " "))
        if (std::size_t at = l.find(" tx="); at != std::string::npos)
            out.push_back(l.substr(at + 4));
    return out;
}

const planted_kind plants[3] = {
    {"symbolic link", [](const std::string& target,
                         const std::string& at) { return symlink(target.c_str(), at.c_str()); }},
    {"FIFO", [](const std::string&, const std::string& at) { return mkfifo(at.c_str(), 0666); }},
    {"hard link", [](const std::string& target,
                     const std::string& at) { return link(target.c_str(), at.c_str()); }},
};
