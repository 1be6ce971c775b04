// The environment store reader: cached dump and direct query through the store tools.
#include "config/env.h"

#include "support/board_dir.h"

#include <cstring>
#include <string>

namespace {

// A store tool that records every run (its arguments) and serves R/sim/<store>.
std::string recording_tool(const std::string& store, const std::string& calls) {
    return "#!/bin/sh\n"
           "R=\"$(dirname \"$0\")/../../..\"\n"
           "printf '%s\\n' \"$#:$*\" >> \"$R/tmp/" +
           calls +
           "\"\n"
           "if [ $# -eq 0 ]; then cat \"$R/sim/" +
           store +
           "\"; exit 0; fi\n"
           "K=\"$1\" awk 'index($0, ENVIRON[\"K\"] \"=\") == 1 { print; exit }' \"$R/sim/" +
           store + "\"\n";
}

class EnvTest : public ::testing::Test {
  protected:
    void SetUp() override {
        board.write("/usr/local/bin/env.d", recording_tool("env.main", "calls.d"), 0755);
        board.write("/usr/local/bin/env.fd", recording_tool("env.second", "calls.fd"), 0755);
        board.write("/sim/env.main", "INTERCOMM_ALC=OFF\nINTERCOMM=1\nTOS=  b8 \r\nGAIN=2\n"
                                     "GAIN=3\nALC=ON\nLONG=0123456789\n");
        board.write("/sim/env.second", "serial=42\n");
    }
    int runs(const char* calls) const {
        std::string text = board.read(std::string("/tmp/") + calls);
        int n = 0;
        for (char c : text)
            n += c == '\n';
        return n;
    }
    std::string get(const char* key) {
        char value[ENV_VALUE_SIZE] = {};
        return env_get(key, value, sizeof value) == 1 ? value : "<none>";
    }

    board_dir board;
};

TEST_F(EnvTest, InitSetsDumpPathsAndRemovesOldDumps) {
    board.write("/tmp/.env.d.result.test_config", "INTERCOMM=stale\n");
    board.write("/tmp/.env.fd.result.test_config", "serial=stale\n");
    env_init(1);
    EXPECT_EQ(env_access_mode(), 1);
    EXPECT_STREQ(env_dump_path_main(), "/tmp/.env.d.result.test_config");
    EXPECT_STREQ(env_dump_path_second(), "/tmp/.env.fd.result.test_config");
    EXPECT_FALSE(board.exists("/tmp/.env.d.result.test_config"));
    EXPECT_FALSE(board.exists("/tmp/.env.fd.result.test_config"));
}

TEST_F(EnvTest, DumpIsTakenOnceAndReadFromTheTopEveryTime) {
    env_init(1);
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_EQ(runs("calls.d"), 1);
    EXPECT_EQ(board.read("/tmp/calls.d"), "0:\n");
    EXPECT_EQ(get("GAIN"), "2");
    EXPECT_EQ(get("INTERCOMM_ALC"), "OFF");
    EXPECT_EQ(get("NONE"), "<none>");
    EXPECT_EQ(runs("calls.d"), 1);
    // A change in the store is not seen until the dump is emptied from outside.
    board.write("/sim/env.main", "INTERCOMM=0\n");
    EXPECT_EQ(get("INTERCOMM"), "1");
    board.write("/tmp/.env.d.result.test_config", "");
    EXPECT_EQ(get("INTERCOMM"), "0");
    EXPECT_EQ(runs("calls.d"), 2);
}

TEST_F(EnvTest, SecondStoreHasItsOwnDumpAndFlag) {
    env_init(1);
    EXPECT_EQ(get("INTERCOMM"), "1");
    char value[32] = {};
    EXPECT_EQ(envfd_get("serial", value, sizeof value), 1);
    EXPECT_STREQ(value, "42");
    EXPECT_EQ(envfd_get("serial", value, sizeof value), 1);
    EXPECT_EQ(runs("calls.fd"), 1);
    EXPECT_EQ(runs("calls.d"), 1);
    EXPECT_EQ(envfd_get("INTERCOMM", value, sizeof value), 0);
}

TEST_F(EnvTest, ListingValuesLoseTrailingBlanksAndLineEndsOnly) {
    env_init(1);
    EXPECT_EQ(get("TOS"), "  b8");
}

TEST_F(EnvTest, MissingToolGivesNothingAndTheDumpIsTriedAgain) {
    board.remove("/usr/local/bin/env.d");
    env_init(1);
    EXPECT_EQ(get("INTERCOMM"), "<none>");
    EXPECT_TRUE(board.exists("/tmp/.env.d.result.test_config"));
    board.write("/usr/local/bin/env.d", recording_tool("env.main", "calls.d"), 0755);
    EXPECT_EQ(get("INTERCOMM"), "1"); // the empty dump is taken again
    EXPECT_EQ(runs("calls.d"), 1);
}

TEST_F(EnvTest, EqualityIsExact) {
    env_init(1);
    EXPECT_EQ(env_equals("ALC", "ON"), 1);
    EXPECT_EQ(env_equals("ALC", "on"), 0);
    EXPECT_EQ(env_equals("ALC", "ON "), 0);
    EXPECT_EQ(env_equals("NONE", ""), 0);
}

TEST_F(EnvTest, DirectQueryRunsTheToolEveryTimeAndNeverTouchesTheDump) {
    env_init(0);
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_EQ(get("INTERCOMM"), "1");
    EXPECT_EQ(get("NONE"), "<none>");
    EXPECT_EQ(board.read("/tmp/calls.d"), "1:INTERCOMM\n1:INTERCOMM\n1:NONE\n");
    EXPECT_FALSE(board.exists("/tmp/.env.d.result.test_config"));
    EXPECT_EQ(env_equals("ALC", "ON"), 1);
}

TEST_F(EnvTest, DirectQueryTakesBareValuesAndEverythingAfterTheFirstEquals) {
    env_init(0);
    board.write("/usr/local/bin/env.d", "#!/bin/sh\nprintf 'bare value \\r\\nsecond=line\\n'\n",
                0755);
    EXPECT_EQ(get("ANY"), "bare value");
    board.write("/usr/local/bin/env.d", "#!/bin/sh\necho 'OTHER=a=b'\n", 0755);
    EXPECT_EQ(get("ANY"), "a=b");
}

TEST_F(EnvTest, DirectQueryHandsTheKeyOverAsOneWord) {
    env_init(0);
    const std::string p1 = board.path("/tmp/pwned1");
    const std::string p2 = board.path("/tmp/pwned2");
    const std::string key = "K;touch " + p1 + " $(touch " + p2 + ") `id` \"q\" 'x' \\";
    EXPECT_EQ(get(key.c_str()), "<none>");
    EXPECT_EQ(board.read("/tmp/calls.d"), "1:" + key + "\n");
    EXPECT_FALSE(board.exists("/tmp/pwned1"));
    EXPECT_FALSE(board.exists("/tmp/pwned2"));
}

TEST_F(EnvTest, ValueLongerThanTheDestinationIsRefusedNotCut) {
    for (int mode : {1, 0}) {
        SCOPED_TRACE(mode);
        env_init(mode);
        char guard[32];
        std::memset(guard, '#', sizeof guard);
        char* dest = guard + 8;
        std::memset(dest, 0, 10);
        testing::internal::CaptureStdout();
        EXPECT_EQ(env_get("LONG", dest, 10), 0); // ten characters need eleven bytes
        EXPECT_NE(testing::internal::GetCapturedStdout().find("env LONG"), std::string::npos);
        EXPECT_EQ(std::string(dest, 10), std::string(10, '\0'));
        EXPECT_EQ(std::string(guard + 18, 14), std::string(14, '#'));
        EXPECT_EQ(env_get("LONG", dest, 11), 1);
        EXPECT_STREQ(dest, "0123456789");
    }
}

TEST_F(EnvTest, SecondStoreDirectQueryReadsAtMost127Bytes) {
    env_init(0);
    board.write("/sim/env.second", "k=" + std::string(200, 'v') + "\n");
    char value[256] = {};
    EXPECT_EQ(envfd_get("k", value, sizeof value), 1);
    EXPECT_EQ(std::string(value), std::string(125, 'v'));
}

} // namespace
