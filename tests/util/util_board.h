// A complete simulated board for the utility tests, laid out by scripts/new-board (so its
// environment tools and board files are the ones a user gets), plus small test helpers.
#pragma once

#include "sim/sim.h"
#include "support/board_dir.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The source tree, found from this header's own path (tests/util/util_board.h).
inline std::string source_dir() {
    std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/util/"));
}

class util_board {
  public:
    util_board() {
        char tmpl[] = "/tmp/obrabi-test-XXXXXX";
        const char* made = mkdtemp(tmpl);
        EXPECT_NE(made, nullptr);
        root_ = made ? made : "/tmp/obrabi-test-none";
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on a literal
        // prepended to a temporary std::string.
        std::string cmd = "'";
        cmd += source_dir();
        cmd += "/scripts/new-board' '" + root_ + "' > /dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        EXPECT_EQ(sim_attach(root_.c_str()), 1);
    }
    ~util_board() {
        sim_detach();
        if (root_.rfind("/tmp/obrabi-test-", 0) == 0) {
            std::string cmd = "rm -rf '" + root_ + "'";
            EXPECT_EQ(std::system(cmd.c_str()), 0);
        }
    }
    util_board(const util_board&) = delete;
    util_board& operator=(const util_board&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& logical) const { return root_ + logical; }
    void write(const std::string& logical, const std::string& content, int mode = 0644) const {
        std::string p = path(logical);
        for (size_t i = root_.size() + 1; i < p.size(); ++i)
            if (p[i] == '/')
                mkdir(p.substr(0, i).c_str(), 0755);
        FILE* f = std::fopen(p.c_str(), "wb");
        ASSERT_NE(f, nullptr) << p;
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        chmod(p.c_str(), static_cast<mode_t>(mode));
    }
    std::string read(const std::string& logical) const { return read_file(path(logical)); }
    bool exists(const std::string& logical) const {
        return access(path(logical).c_str(), F_OK) == 0;
    }
    void remove(const std::string& logical) const { unlink(path(logical).c_str()); }
    // Writes R/sim/board.conf and attaches again so that it takes effect.
    void configure(const std::string& conf) const {
        write("/sim/board.conf", conf);
        EXPECT_EQ(sim_attach(root_.c_str()), 1);
    }
    // Puts a recording tool in place of the tool at the logical path: every run appends
    // "argc=N" and then its arguments, one a line, to R/tmp/<name>.argv.
    std::string install_recorder(const std::string& logicalTool) const {
        std::string name = logicalTool.substr(logicalTool.rfind('/') + 1);
        std::string log = "/tmp/" + name + ".argv";
        write(logicalTool,
              "#!/bin/sh\n"
              "{ printf 'argc=%s\\n' \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } "
              ">> '" +
                  path(log) + "'\n",
              0755);
        return log;
    }

  private:
    std::string root_;
};
