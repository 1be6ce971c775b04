// The environment writers: the command lines they run, values handed over byte for byte,
// lines that do not fit, and the simulated board's stores written and read back.
#include "config/env.h"
#include "util/env_write.h"
#include "util_board.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

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

// Every writer at its limit: the line as the board formats it, "TOOL KEY [VALUE]" with the
// board's tool path and a text between double quotes, may take 255 characters (2999 for
// env_set_str). A key one character longer is refused and runs nothing. The quoting that
// hands the words over unaltered is not counted, nor the simulated board's longer path.
TEST(EnvWrite, EachWriterRunsEveryLineThatFitsItsBufferAndNoLongerOne) {
    util_board b;
    const std::string recorders[] = {b.install_recorder(ENV_SET_TOOL),
                                     b.install_recorder(ENVFD_SET_TOOL)};
    struct writer {
        int (*call)(const char* key);
        int second;          // 1: the second store's tool
        size_t lineMax;      // characters of plain line
        const char* onLine;  // the value as the plain line holds it, nullptr for none
        const char* arrives; // the value as the tool receives it
    };
    const writer writers[] = {
        {[](const char* k) { return env_set_bare(k); }, 0, 255, nullptr, nullptr},
        {[](const char* k) { return env_set_hex(k, 0xFFFFFFFFu); }, 0, 255, "ffffffff", "ffffffff"},
        {[](const char* k) { return env_set_int(k, -1); }, 0, 255, "-1", "-1"},
        {[](const char* k) { return env_set_str(k, "it's"); }, 0, 2999, "\"it's\"", "it's"},
        {[](const char* k) { return envfd_set_hex(k, 0x1A2B); }, 1, 255, "1a2b", "1a2b"},
        {[](const char* k) { return envfd_set_int(k, INT32_MIN); }, 1, 255, "-2147483648",
         "-2147483648"},
        {[](const char* k) { return envfd_set_str(k, "it's"); }, 1, 255, "\"it's\"", "it's"},
    };
    for (const writer& w : writers) {
        const std::string tool = w.second ? ENVFD_SET_TOOL : ENV_SET_TOOL;
        const size_t fixed = tool.size() + 1 + (w.onLine ? 1 + std::strlen(w.onLine) : 0);
        const std::string fits(w.lineMax - fixed, 'k');
        const std::string tooLong = fits + "k";
        const std::string& recorder = recorders[w.second];
        SCOPED_TRACE(tool + " " + (w.onLine ? w.onLine : "(no value)"));

        const std::string before = b.read(recorder);
        EXPECT_EQ(w.call(fits.c_str()), 1);
        const std::string expected = std::string("argc=") + (w.onLine ? "2" : "1") + "\n" + fits +
                                     "\n" + (w.arrives ? std::string(w.arrives) + "\n" : "");
        EXPECT_EQ(b.read(recorder), before + expected);

        testing::internal::CaptureStdout();
        EXPECT_EQ(w.call(tooLong.c_str()), 0);
        EXPECT_TRUE(contains(testing::internal::GetCapturedStdout(), "not run"));
        EXPECT_EQ(b.read(recorder), before + expected);
    }
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
