// The environment writers: the command lines they run, values handed over byte for byte,
// lines that do not fit, and the simulated board's stores written and read back.
#include "config/env.h"
#include "util/env_write.h"
#include "util_board.h"

#include <cstdint>
#include <string>

namespace {

// Length of the command line a writer builds for a key and a quoted text value.
size_t text_line_length(const util_board& b, const std::string& tool, const std::string& key,
                        const std::string& value) {
    return 1 + b.path(tool).size() + 1 + 1 + 1 + key.size() + 1 + 1 + 1 + value.size() + 1;
}

TEST(EnvWrite, EachWriterRunsItsToolWithKeyAndValueAsSeparateArguments) {
    util_board b;
    std::string s = b.install_recorder(ENV_SET_TOOL);
    std::string fs = b.install_recorder(ENVFD_SET_TOOL);

    EXPECT_EQ(env_set_bare("INTERCOMM"), 1);
    EXPECT_EQ(env_set_hex("TOS", 255), 1);
    EXPECT_EQ(env_set_hex("MASK", 0xFFFFFFFFu), 1);
    EXPECT_EQ(env_set_hex("ZERO", 0), 1);
    EXPECT_EQ(env_set_int("GAIN", -1), 1);
    EXPECT_EQ(env_set_int("MIN", INT32_MIN), 1);
    EXPECT_EQ(env_set_str("NAME", "two words"), 1);
    EXPECT_EQ(b.read(s), "argc=1\nINTERCOMM\n"
                         "argc=2\nTOS\nff\n"
                         "argc=2\nMASK\nffffffff\n"
                         "argc=2\nZERO\n0\n"
                         "argc=2\nGAIN\n-1\n"
                         "argc=2\nMIN\n-2147483648\n"
                         "argc=2\nNAME\ntwo words\n");

    EXPECT_EQ(envfd_set_hex("serial", 0x1A2B), 1);
    EXPECT_EQ(envfd_set_int("count", 42), 1);
    EXPECT_EQ(envfd_set_str("label", " padded  "), 1);
    EXPECT_EQ(b.read(fs), "argc=2\nserial\n1a2b\n"
                          "argc=2\ncount\n42\n"
                          "argc=2\nlabel\n padded  \n");
}

TEST(EnvWrite, ShellSensitiveKeysAndValuesReachTheToolUnchangedAndRunNothingElse) {
    util_board b;
    std::string s = b.install_recorder(ENV_SET_TOOL);
    std::string fs = b.install_recorder(ENVFD_SET_TOOL);
    const std::string pwned = b.path("/tmp/pwned");
    const std::string values[] = {
        "say \"hi\"",
        "$HOME and ${PATH}",
        "`touch " + pwned + "`",
        "$(touch " + pwned + ")",
        "back\\slash\\n",
        "it's",
        "a; touch " + pwned,
        "'; touch " + pwned + "; echo '",
        "\"; touch " + pwned + "; echo \"",
        "*",
        "",
    };
    std::string expectMain;
    std::string expectSecond;
    for (const std::string& v : values) {
        EXPECT_EQ(env_set_str("KEY", v.c_str()), 1);
        EXPECT_EQ(envfd_set_str("KEY", v.c_str()), 1);
        expectMain += "argc=2\nKEY\n" + v + "\n";
        expectSecond += "argc=2\nKEY\n" + v + "\n";
    }
    const std::string key = "K$(touch " + pwned + ");'\"`x`";
    EXPECT_EQ(env_set_bare(key.c_str()), 1);
    EXPECT_EQ(env_set_int(key.c_str(), 7), 1);
    expectMain += "argc=1\n" + key + "\nargc=2\n" + key + "\n7\n";

    EXPECT_EQ(b.read(s), expectMain);
    EXPECT_EQ(b.read(fs), expectSecond);
    EXPECT_FALSE(b.exists("/tmp/pwned"));
}

TEST(EnvWrite, ALineThatDoesNotFitItsBufferIsRefusedAndNotRun) {
    util_board b;
    std::string s = b.install_recorder(ENV_SET_TOOL);
    std::string fs = b.install_recorder(ENVFD_SET_TOOL);

    // envfd_set_str: 256 bytes with the terminator, so at most 255 characters of line.
    size_t base = text_line_length(b, ENVFD_SET_TOOL, "K", "");
    ASSERT_LT(base, 255u);
    std::string fits(255 - base, 'v');
    std::string tooLong(256 - base, 'v');
    EXPECT_EQ(envfd_set_str("K", fits.c_str()), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(envfd_set_str("K", tooLong.c_str()), 0);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "not run"));
    EXPECT_EQ(b.read(fs), "argc=2\nK\n" + fits + "\n");

    // env_set_str takes the same value, and up to 2999 characters of line.
    EXPECT_EQ(env_set_str("K", tooLong.c_str()), 1);
    size_t mainBase = text_line_length(b, ENV_SET_TOOL, "K", "");
    std::string mainFits(2999 - mainBase, 'w');
    std::string mainTooLong(3000 - mainBase, 'w');
    EXPECT_EQ(env_set_str("K", mainFits.c_str()), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(env_set_str("K", mainTooLong.c_str()), 0);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "not run"));
    EXPECT_EQ(b.read(s), "argc=2\nK\n" + tooLong + "\nargc=2\nK\n" + mainFits + "\n");

    // A quote in the value takes more room on the line than in the value: still refused whole.
    std::string quotes(60, '\'');
    testing::internal::CaptureStdout();
    EXPECT_EQ(envfd_set_str("K", quotes.c_str()), 0);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "not run"));
    // The 256-byte writers refuse a key that is too long in the same way.
    std::string longKey(300, 'k');
    testing::internal::CaptureStdout();
    EXPECT_EQ(env_set_bare(longKey.c_str()), 0);
    EXPECT_EQ(env_set_hex(longKey.c_str(), 1), 0);
    EXPECT_EQ(envfd_set_int(longKey.c_str(), 1), 0);
    EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "not run"));
    EXPECT_EQ(b.read(fs), "argc=2\nK\n" + fits + "\n");
}

TEST(EnvWrite, WritersReturnOneWhenTheToolIsMissingOrFails) {
    util_board b;
    b.remove(ENV_SET_TOOL);
    b.write(ENVFD_SET_TOOL, "#!/bin/sh\nexit 3\n", 0755);
    EXPECT_EQ(env_set_bare("A"), 1);
    EXPECT_EQ(env_set_hex("A", 1), 1);
    EXPECT_EQ(env_set_int("A", 1), 1);
    EXPECT_EQ(env_set_str("A", "x"), 1);
    EXPECT_EQ(envfd_set_hex("A", 1), 1);
    EXPECT_EQ(envfd_set_int("A", 1), 1);
    EXPECT_EQ(envfd_set_str("A", "x"), 1);
}

TEST(EnvWrite, TheBoardsWritersSetTheStoresItsReadersRead) {
    util_board b;
    const std::string odd = "a \"b\" $HOME `c` \\d 'e'; f";
    char value[ENV_VALUE_SIZE] = {};

    EXPECT_EQ(env_set_str("NAME", odd.c_str()), 1);
    EXPECT_EQ(env_get_direct("NAME", value, sizeof value), 1);
    EXPECT_EQ(std::string(value), odd);

    EXPECT_EQ(env_set_hex("TOS", 0xB8), 1);
    EXPECT_EQ(env_get_direct("TOS", value, sizeof value), 1);
    EXPECT_STREQ(value, "b8");
    EXPECT_EQ(env_set_int("INTERCOMM_M_GAIN", -3), 1);
    EXPECT_EQ(env_get_direct("INTERCOMM_M_GAIN", value, sizeof value), 1);
    EXPECT_STREQ(value, "-3");
    // A second write replaces the first; a bare key removes it on this board's tool.
    EXPECT_EQ(env_set_int("INTERCOMM_M_GAIN", 2), 1);
    EXPECT_EQ(env_get_direct("INTERCOMM_M_GAIN", value, sizeof value), 1);
    EXPECT_STREQ(value, "2");
    EXPECT_EQ(env_set_bare("INTERCOMM_M_GAIN"), 1);
    EXPECT_EQ(env_get_direct("INTERCOMM_M_GAIN", value, sizeof value), 0);

    EXPECT_EQ(envfd_set_str("label", odd.c_str()), 1);
    EXPECT_EQ(envfd_set_hex("serial", 0xABC), 1);
    EXPECT_EQ(envfd_get_direct("label", value, sizeof value), 1);
    EXPECT_EQ(std::string(value), odd);
    EXPECT_EQ(envfd_get_direct("serial", value, sizeof value), 1);
    EXPECT_STREQ(value, "abc");
    // The second store's writes stay out of the main store.
    EXPECT_EQ(env_get_direct("label", value, sizeof value), 0);
    EXPECT_TRUE(contains(b.read("/sim/env.second"), "serial=abc\n"));
}

} // namespace
