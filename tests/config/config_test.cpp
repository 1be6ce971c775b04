// The parameter file reader and the environment store reader (cached dump and direct query).
#include "config/env.h"
#include "config/para.h"

#include "support/board_dir.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Looks key up in a parameter file holding content: the value, or "<none>" when not found.
std::string lookup(const board_dir& board, const std::string& content, const char* key) {
    board.write("/var/obraBi_para", content);
    char value[256] = {};
    return para_get("/var/obraBi_para", key, value, sizeof value) == 1 ? value : "<none>";
}

TEST(Para, KeysAtLineStartValuesWithoutControlBytesLongLinesInTwo) {
    board_dir board;
    const std::string a246(246, 'a');
    const struct {
        std::string content;
        const char* key;
        std::string value;
    } rows[] = {
        {"OUT_DEST =1.2.3.4\n", "OUT_DEST", "<none>"},
        {" OUT_DEST=1.2.3.4\n", "OUT_DEST", "<none>"},
        {"IN_SRCX=1.2.3.4\n", "IN_SRC", "<none>"},
        {"in_src=1.2.3.4\n", "IN_SRC", "<none>"},
        {"# c\n\nIN_SRCX=9\nIN_SRC=1.2.3.4\n", "IN_SRC", "1.2.3.4"},
        {"IN_SRC=\n", "IN_SRC", ""},
        {"", "WAIT", "<none>"},
        {"OUT_DEST=1.1.1.1\nOUT_DEST=2.2.2.2\n", "OUT_DEST", "1.1.1.1"},
        {"WAIT=o\tn\r\n", "WAIT", "on"},
        {"WAIT=on  \n", "WAIT", "on  "},
        {"WAIT= on\x0b\x0c\x01\n", "WAIT", " on"},
        {"WAIT=\x0e\xff\n", "WAIT", "\x0e\xff"},
        // A line holds at most 255 characters; the rest is read as the next line.
        {"OUT_DEST=" + a246 + "IN_SRC=5.6.7.8\n", "OUT_DEST", a246},
        {"OUT_DEST=" + a246 + "IN_SRC=5.6.7.8\n", "IN_SRC", "5.6.7.8"},
        {"X=" + std::string(253, 'a') + "WAIT=on\n", "WAIT", "on"},
        {"X=" + std::string(254, 'a') + "WAIT=on\n", "WAIT", "<none>"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.content.substr(0, 40));
        testing::internal::CaptureStdout();
        EXPECT_EQ(lookup(board, r.content, r.key), r.value);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
}

// A missing file is reported. A FIFO without a writer, a directory and a device that never
// ends read as a file without keys, at once and silently (a wait would hang the test).
TEST(Para, MissingOrIrregularFileGivesNothingAndLeavesTheDestination) {
    board_dir board;
    const std::string p = board.path("/var/obraBi_para");
    const struct {
        const char* log;
        int (*make)(const char* path);
    } nodes[] = {
        {"can't open /var/obraBi_para!!!\n", [](const char*) { return 0; }},
        {"", [](const char* path) { return mkfifo(path, 0644); }},
        {"", [](const char* path) { return mkdir(path, 0755); }},
        {"", [](const char* path) { return symlink("/dev/zero", path); }},
    };
    for (const auto& node : nodes) {
        unlink(p.c_str());
        rmdir(p.c_str());
        ASSERT_EQ(node.make(p.c_str()), 0);
        char value[16] = "untouched";
        testing::internal::CaptureStdout();
        EXPECT_EQ(para_get("/var/obraBi_para", "WAIT", value, sizeof value), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), node.log);
        EXPECT_STREQ(value, "untouched");
    }
}

TEST(Para, ValueIsBoundedByTheDestination) {
    board_dir board;
    board.write("/var/obraBi_para", "OUT_DEST=192.168.100.200\n");
    char guard[24];
    std::memset(guard, '#', sizeof guard);
    std::memset(guard + 8, 0, 8); // 8 bytes of room, 8 guard bytes on each side
    EXPECT_EQ(para_get("/var/obraBi_para", "OUT_DEST", guard + 8, 8), 1);
    EXPECT_EQ(std::string(guard, 24), std::string(8, '#') + "192.168" + '\0' + std::string(8, '#'));
}

// A store tool that records every run (its arguments) and serves R/sim/<store>.
std::string recording_tool(const std::string& store, const std::string& calls) {
    return "#!/bin/sh\nR=\"$(dirname \"$0\")/../../..\"\n"
           "printf '%s\\n' \"$#:$*\" >> \"$R/tmp/" +
           calls +
           "\"\n"
           "if [ $# -eq 0 ]; then cat \"$R/sim/" +
           store +
           "\"; exit 0; fi\n"
           "K=\"$1\" awk 'index($0, ENVIRON[\"K\"] \"=\") == 1 { print; exit }' \"$R/sim/" +
           store + "\"\n";
}

class Env : public ::testing::Test {
  protected:
    void SetUp() override {
        board.write("/usr/local/bin/env.d", recording_tool("env.main", "calls.d"), 0755);
        board.write("/usr/local/bin/env.fd", recording_tool("env.second", "calls.fd"), 0755);
        board.write("/sim/env.main", "INTERCOMM_ALC=OFF\nINTERCOMM=1\nTOS=  b8\t \r\nGAIN=2\n"
                                     "GAIN=3\nALC=ON\nLONG=0123456789\n");
        board.write("/sim/env.second", "serial=42\n");
    }
    std::string get(const char* key) {
        char value[ENV_VALUE_SIZE] = {};
        return env_get(key, value, sizeof value) == 1 ? value : "<none>";
    }
    std::string calls(const char* tool) const {
        return board.read(std::string("/tmp/calls.") + tool);
    }

    board_dir board;
};

TEST_F(Env, DumpIsTakenOnceIntoAFileNamedByTheProgramAndSearchedFromTheTop) {
    board.write("/tmp/.env.d.result.test_config", "INTERCOMM=stale\n");
    board.write("/tmp/.env.fd.result.test_config", "serial=stale\n");
    env_init(1);
    EXPECT_EQ(env_access_mode(), 1);
    EXPECT_STREQ(env_dump_path_main(), "/tmp/.env.d.result.test_config");
    EXPECT_STREQ(env_dump_path_second(), "/tmp/.env.fd.result.test_config");
    EXPECT_FALSE(board.exists("/tmp/.env.d.result.test_config"));
    EXPECT_FALSE(board.exists("/tmp/.env.fd.result.test_config"));
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_EQ(get("GAIN"), "2");
    EXPECT_EQ(get("INTERCOMM_ALC"), "OFF");
    EXPECT_EQ(get("TOS"), "  b8\t"); // trailing blanks and line ends go, nothing else
    EXPECT_EQ(get("NONE"), "<none>");
    EXPECT_EQ(env_equals("ALC", "ON"), 1);
    EXPECT_EQ(env_equals("ALC", "on"), 0);
    EXPECT_EQ(env_equals("ALC", "ON "), 0);
    EXPECT_EQ(env_equals("NONE", ""), 0);
    EXPECT_EQ(calls("d"), "0:\n");
    // The second store has its own dump and flag.
    char value[32] = {};
    EXPECT_EQ(envfd_get("serial", value, sizeof value), 1);
    EXPECT_STREQ(value, "42");
    EXPECT_EQ(envfd_get("INTERCOMM", value, sizeof value), 0);
    EXPECT_EQ(calls("fd"), "0:\n");
    // A change in the store is not seen until the dump is emptied from outside.
    board.write("/sim/env.main", "INTERCOMM=0\n");
    EXPECT_EQ(get("INTERCOMM"), "1");
    board.write("/tmp/.env.d.result.test_config", "");
    EXPECT_EQ(get("INTERCOMM"), "0");
    EXPECT_EQ(calls("d"), "0:\n0:\n");
}

TEST_F(Env, MissingToolGivesNothingAndTheDumpIsTriedAgain) {
    board.remove("/usr/local/bin/env.d");
    env_init(1);
    EXPECT_EQ(get("INTERCOMM"), "<none>");
    board.write("/usr/local/bin/env.d", recording_tool("env.main", "calls.d"), 0755);
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_EQ(calls("d"), "0:\n");
}

TEST_F(Env, DirectQueryRunsTheToolEveryTimeWithTheKeyAsOneWord) {
    env_init(0);
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_EQ(env_equals("ALC", "ON"), 1);
    const std::string p1 = board.path("/tmp/pwned1"), p2 = board.path("/tmp/pwned2");
    const std::string key = "K;touch " + p1 + " $(touch " + p2 + ") `id` \"q\" 'x' \\";
    EXPECT_EQ(get(key.c_str()), "<none>");
    EXPECT_EQ(calls("d"), "1:INTERCOMM\n1:INTERCOMM\n1:ALC\n1:" + key + "\n");
    EXPECT_FALSE(board.exists("/tmp/pwned1"));
    EXPECT_FALSE(board.exists("/tmp/pwned2"));
    EXPECT_FALSE(board.exists("/tmp/.env.d.result.test_config"));
    // A bare value, or everything after the first equals sign.
    board.write("/usr/local/bin/env.d", "#!/bin/sh\nprintf 'bare value \\r\\nsecond=line\\n'\n",
                0755);
    EXPECT_EQ(get("ANY"), "bare value");
    board.write("/usr/local/bin/env.d", "#!/bin/sh\necho 'OTHER=a=b'\n", 0755);
    EXPECT_EQ(get("ANY"), "a=b");
    // The second store's tool is read for at most 127 bytes.
    board.write("/sim/env.second", "k=" + std::string(200, 'v') + "\n");
    char value[256] = {};
    EXPECT_EQ(envfd_get("k", value, sizeof value), 1);
    EXPECT_EQ(std::string(value), std::string(125, 'v'));
}

TEST_F(Env, ValueLongerThanTheDestinationIsRefusedNotCut) {
    for (int mode : {1, 0}) {
        SCOPED_TRACE(mode);
        env_init(mode);
        char guard[32];
        std::memset(guard, '#', sizeof guard);
        std::memset(guard + 8, 0, 10);
        testing::internal::CaptureStdout();
        EXPECT_EQ(env_get("LONG", guard + 8, 10), 0); // ten characters need eleven bytes
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "env LONG: value of 10 characters does not fit 9, ignored\n");
        EXPECT_EQ(std::string(guard, 32),
                  std::string(8, '#') + std::string(10, '\0') + std::string(14, '#'));
        EXPECT_EQ(env_get("LONG", guard + 8, 11), 1);
        EXPECT_STREQ(guard + 8, "0123456789");
    }
}

} // namespace
