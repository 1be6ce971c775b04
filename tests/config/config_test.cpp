// The parameter file reader and the environment store reader (cached dump and direct query).
#include "config/env.h"
#include "config/para.h"

#include "support/board_dir.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

// A parameter file line holds at most 255 characters; the rest is read as the next line.
TEST(Para, KeysAtLineStartValuesWithoutControlBytesLongLinesInTwo) {
    board_dir board;
    const std::string a246(246, 'a'), split = "OUT_DEST=" + a246 + "IN_SRC=5.6.7.8\n";
    const struct {
        std::string content;
        const char* key;
        std::string value;
    } rows[] = {
        {" OUT_DEST=1.2.3.4\nOUT_DEST =1.2.3.4\n", "OUT_DEST", "<none>"},
        {"IN_SRCX=1.2.3.4\nin_src=1.2.3.4\n", "IN_SRC", "<none>"},
        {"# c\n\nIN_SRCX=9\nIN_SRC=1.2.3.4\n", "IN_SRC", "1.2.3.4"},
        {"IN_SRC=\n", "IN_SRC", ""},
        {"OUT_DEST=1.1.1.1\nOUT_DEST=2.2.2.2\n", "OUT_DEST", "1.1.1.1"},
        {"WAIT= o\tn \x0e\x0b\x0c\x01\xff\r\n", "WAIT", " on \x0e\xff"}, // bytes up to 13 go
        {split, "OUT_DEST", a246},
        {split, "IN_SRC", "5.6.7.8"},
        {"X=" + std::string(253, 'a') + "WAIT=on\n", "WAIT", "on"},
        {"X=" + std::string(254, 'a') + "WAIT=on\n", "WAIT", "<none>"},
    };
    for (const auto& r : rows) {
        board.write("/var/obraBi_para", r.content);
        char value[256] = {};
        int found = -1;
        EXPECT_EQ(
            stdout_of([&] { found = para_get("/var/obraBi_para", r.key, value, sizeof value); }),
            "");
        EXPECT_EQ(found == 1 ? value : "<none>", r.value) << r.content.substr(0, 40);
    }
    // The destination bounds the value: 8 bytes of room between two guards.
    char guard[] = "########\0\0\0\0\0\0\0\0########";
    board.write("/var/obraBi_para", "OUT_DEST=192.168.100.200\n");
    EXPECT_EQ(para_get("/var/obraBi_para", "OUT_DEST", guard + 8, 8), 1);
    EXPECT_EQ(std::string(guard, 24), std::string(8, '#') + "192.168" + '\0' + std::string(8, '#'));
}

// A missing file is reported. A FIFO without a writer and a device that never ends read as a
// file without keys, at once and silently (a wait would hang the test).
TEST(Para, MissingOrIrregularFileGivesNothingAndLeavesTheDestination) {
    board_dir board;
    const std::string p = board.path("/var/obraBi_para");
    for (int kind = 0; kind < 3; ++kind) { // missing, a FIFO without a writer, /dev/zero
        ASSERT_EQ(kind == 0   ? 0
                  : kind == 1 ? mkfifo(p.c_str(), 0644)
                              : symlink("/dev/zero", p.c_str()),
                  0);
        char value[16] = "untouched";
        EXPECT_EQ(stdout_of([&] {
                      EXPECT_EQ(para_get("/var/obraBi_para", "WAIT", value, sizeof value), 0);
                  }),
                  kind == 0 ? "can't open /var/obraBi_para!!!\n" : "");
        EXPECT_STREQ(value, "untouched");
        unlink(p.c_str());
    }
}

// A store tool that records every run (its arguments) and serves R/sim/<its name>.
const char* STORE_TOOL = R"sh(#!/bin/sh
R="$(dirname "$0")/../../.."; T="$(basename "$0")"
printf '%s\n' "$#:$*" >> "$R/tmp/calls.$T"
[ $# -eq 0 ] && exec cat "$R/sim/$T"
K="$1" awk 'index($0, ENVIRON["K"] "=") == 1 { print; exit }' "$R/sim/$T"
)sh";

class Env : public ::testing::Test {
  protected:
    void SetUp() override {
        board.write("/usr/local/bin/env.fd", STORE_TOOL, 0755);
        board.write("/sim/env.d", "INTERCOMM_ALC=OFF\nINTERCOMM=1\nTOS=  b8\t \r\nGAIN=2\nGAIN=3\n"
                                  "ALC=ON\nLONG=0123456789\n");
        board.write("/sim/env.fd", "serial=42\n");
        board.write("/tmp/.env.d.result.test_config", "INTERCOMM=stale\n");
        board.write("/tmp/.env.fd.result.test_config", "serial=stale\n");
    }
    std::string get(const char* key, int (*lookup)(const char*, char*, std::size_t) = env_get) {
        char value[ENV_VALUE_SIZE] = {};
        return lookup(key, value, sizeof value) == 1 ? value : "<none>";
    }
    std::string calls(const char* tool) const {
        return board.read(std::string("/tmp/calls.") + tool);
    }

    board_dir board;
};

// The dump (named by the program) is taken once, searched from the top every time, and
// taken again only when it is missing or empty; a missing tool gives nothing.
TEST_F(Env, CachedDumpIsTakenOnceAndSearchedFromTheTop) {
    env_init(1);
    EXPECT_EQ(get("INTERCOMM"), "<none>"); // no tool yet, and the old dumps are gone
    board.write("/usr/local/bin/env.d", STORE_TOOL, 0755);
    const std::pair<const char*, const char*> values[] = {{"INTERCOMM", "1"},
                                                          {"GAIN", "2"},
                                                          {"INTERCOMM_ALC", "OFF"},
                                                          {"TOS", "  b8\t"},
                                                          {"NONE", "<none>"}};
    for (auto [key, value] : values)
        EXPECT_EQ(get(key), value) << key; // trailing blanks and line ends go, nothing else
    const std::tuple<const char*, const char*, int> equals[] = {
        {"ALC", "ON", 1}, {"ALC", "ON ", 0}, {"NONE", "", 0}};
    for (const auto& [key, text, equal] : equals)
        EXPECT_EQ(env_equals(key, text), equal) << key << " '" << text << "'";
    EXPECT_EQ(get("serial", envfd_get), "42"); // the second store: its own dump and flag
    EXPECT_EQ(get("INTERCOMM", envfd_get), "<none>");
    EXPECT_EQ(calls("env.fd"), "0:\n");
    board.write("/sim/env.d", "INTERCOMM=0\n");
    EXPECT_EQ(get("INTERCOMM"), "1"); // not seen until the dump is emptied from outside
    board.write("/tmp/.env.d.result.test_config", "");
    EXPECT_EQ(get("INTERCOMM"), "0");
    EXPECT_EQ(calls("env.d"), "0:\n0:\n");
}

// A link, a FIFO or a hard link planted at the dump's path: after env_init (which removes
// what is there), after a dump was taken, or by the tool while it runs. The file a link names
// stays as it was, nothing waits on the FIFO, and the dump is taken again into a fresh file.
TEST_F(Env, DumpIsNeverWrittenThroughALinkOrFifoPlantedAtItsPath) {
    const std::string victim = "ROOT=untouched\n";
    const std::string dump = board.path("/tmp/.env.d.result.test_config");
    board.write("/etc/victim", victim);
    auto is_fresh_dump = [&] {
        struct stat st {};
        return lstat(dump.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
               board.read("/tmp/.env.d.result.test_config") == board.read("/sim/env.d");
    };
    board.write("/usr/local/bin/env.d", STORE_TOOL, 0755);
    for (const auto& p : plants) {
        env_init(1);
        ASSERT_EQ(p.plant(board.path("/etc/victim"), dump), 0) << p.name;
        EXPECT_EQ(get("INTERCOMM"), "1") << p.name << ", before the first dump";
        EXPECT_TRUE(is_fresh_dump()) << p.name;
        unlink(dump.c_str());
        ASSERT_EQ(p.plant(board.path("/etc/victim"), dump), 0) << p.name;
        EXPECT_EQ(get("GAIN"), "2") << p.name << ", after the first dump";
        EXPECT_TRUE(is_fresh_dump()) << p.name;
        EXPECT_EQ(board.read("/etc/victim"), victim) << p.name;
    }
    // The tool itself puts a link in place of the dump it writes: that lookup finds nothing,
    // the next takes the dump again.
    board.write("/usr/local/bin/env.d", R"sh(#!/bin/sh
R="$(dirname "$0")/../../.."
if [ ! -e "$R/tmp/planted" ]; then
    : > "$R/tmp/planted"
    rm -f "$R/tmp/.env.d.result.test_config"
    ln -s "$R/etc/victim" "$R/tmp/.env.d.result.test_config"
fi
exec cat "$R/sim/env.d"
)sh",
                0755);
    env_init(1);
    EXPECT_EQ(get("INTERCOMM"), "<none>");
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_TRUE(is_fresh_dump());
    EXPECT_EQ(board.read("/etc/victim"), victim);
    // A missing tool leaves an empty dump, as the shell's redirection did.
    board.remove("/usr/local/bin/env.d");
    env_init(1);
    EXPECT_EQ(get("INTERCOMM"), "<none>");
    EXPECT_TRUE(board.exists("/tmp/.env.d.result.test_config"));
    EXPECT_EQ(board.read("/tmp/.env.d.result.test_config"), "");
}

TEST_F(Env, DirectQueryRunsTheToolEveryTimeWithTheKeyAsOneWord) {
    board.write("/usr/local/bin/env.d", STORE_TOOL, 0755);
    env_init(0);
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_EQ(env_equals("INTERCOMM", "1"), 1);
    const std::string p1 = board.path("/tmp/pwned1"), p2 = board.path("/tmp/pwned2");
    const std::string key = "K;touch " + p1 + " $(touch " + p2 + ") `id` \"q\" 'x' \\";
    EXPECT_EQ(get(key.c_str()), "<none>");
    EXPECT_EQ(calls("env.d"), "1:INTERCOMM\n1:INTERCOMM\n1:" + key + "\n");
    EXPECT_FALSE(board.exists("/tmp/pwned1") || board.exists("/tmp/pwned2"));
    EXPECT_FALSE(board.exists("/tmp/.env.d.result.test_config"));
    // The second store's tool is read for at most 127 bytes.
    board.write("/sim/env.fd", "k=" + std::string(200, 'v') + "\n");
    EXPECT_EQ(get("k", envfd_get), std::string(125, 'v'));
    // A bare value, or everything after the first equals sign.
    board.write("/usr/local/bin/env.d",
                "#!/bin/sh\n[ \"$1\" = A ] && printf 'bare value \\r\\nX=1\\n'\n"
                "echo 'OTHER=a=b'\n",
                0755);
    EXPECT_EQ(get("A"), "bare value");
    EXPECT_EQ(get("B"), "a=b");
}

TEST_F(Env, ValueLongerThanTheDestinationIsRefusedNotCut) {
    board.write("/usr/local/bin/env.d", STORE_TOOL, 0755);
    for (int mode : {1, 0}) {
        env_init(mode);
        char guard[] = "################################";
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(env_get("LONG", guard + 8, 10), 0); }), // 10 need 11
                  "env LONG: value of 10 characters does not fit 9, ignored\n");
        EXPECT_EQ(std::string(guard), std::string(32, '#'));
        EXPECT_EQ(env_get("LONG", guard + 8, 11), 1);
        EXPECT_STREQ(guard + 8, "0123456789") << mode;
    }
}

} // namespace
