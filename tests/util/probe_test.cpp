// File probes, identity and unit type, process helpers, hex dumps, waits, host resolution.
#include "util/file_probe.h"
#include "util/hex_dump.h"
#include "util/identity.h"
#include "util/process.h"
#include "util/resolve_host.h"
#include "util/wait.h"
#include "util_test.h"

#include <sys/time.h>

namespace {

using namespace ut;

// While not negative, the clock that the code under test reads: it starts at 10.7 s and
// moves on by 0.3 s at every reading.
int clockReadings = -1;

} // namespace

extern "C" int gettimeofday(timeval* __restrict tv, void* __restrict) noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long long us = clockReadings < 0 ? now.tv_sec * 1000000LL + now.tv_nsec / 1000
                                           : 10700000 + 300000LL * clockReadings++;
    tv->tv_sec = static_cast<time_t>(us / 1000000);
    tv->tv_usec = static_cast<suseconds_t>(us % 1000000);
    return 0;
}

namespace {

TEST(FileProbe, FirstLinesWithinTheDestinationOrItUntouchedAndPathsAsOneArgument) {
    board b;
    const std::string v200 = std::string(200, 'v') + "\n";
    // The probe, the file (nullptr: none), the destination size, what it holds ("#": the probe
    // gives 0 and leaves it untouched).
    const std::tuple<int (*)(const char*, char*, std::size_t), const char*, int, std::string>
        rows[] = {
            {cat_first_line, "1.0\r\nnext\n", 64, "1.0"}, // control bytes dropped
            {cat_first_line, "a\tb c\n", 64, "ab c"},
            {cat_first_line, "abcdefgh\n", 8, "abcdefg"},               // one more than fits
            {cat_first_line, v200.c_str(), 256, std::string(127, 'v')}, // at most 127 read
            {cat_first_line, "", 16, "#"},
            {cat_first_line, nullptr, 16, "#"},
            {file_first_line, "1.0\t\r\nnext\n", 64, "1.0\t\r\n"}, // as it is
            {file_first_line, "0123456789\n", 5, "0123"},
            {file_first_line, "0123\n", 5, "0123"},
            {file_first_line, "", 8, "#"},
            {file_first_line, nullptr, 8, "#"},
        };
    for (const auto& [probe, content, size, expected] : rows) {
        SCOPED_TRACE(std::string(content ? content : "(none)") + std::to_string(size));
        content ? b.write("/etc/version", content) : b.remove("/etc/version");
        char dest[300];
        std::memset(dest, '#', sizeof dest);
        int got = -1;
        stdout_of([&] { got = probe("/etc/version", dest, size); }, true); // cat's complaints
        EXPECT_EQ(got, expected != "#");
        EXPECT_EQ(expected == "#" ? std::string(1, dest[0]) : std::string(dest), expected);
        EXPECT_EQ(dest[size], '#'); // nothing past the destination
    }
    setenv("OBRABI_PWNED", b.path("/tmp/pwned").c_str(), 1);
    const std::string odd = "/etc/a'b \"c\" $(touch \"$OBRABI_PWNED\");`touch \"$OBRABI_PWNED\"`";
    b.write(odd, "odd\n");
    char line[16] = {};
    EXPECT_EQ(cat_first_line(odd.c_str(), line, sizeof line), 1);
    EXPECT_STREQ(line, "odd");
    const std::string tooLong = "/etc/" + std::string(HW_PATH_SIZE, 'p');
    EXPECT_TRUE(
        contains(stdout_of([&] { cat_first_line(tooLong.c_str(), line, 16); }), "too long"));
    // ls names an existing file; a directory lists its entries instead.
    EXPECT_EQ(path_exists("/etc/unitType"), 1);
    EXPECT_EQ(path_exists(odd.c_str()), 1);
    stdout_of(
        [&] {
            for (const char* absent : {"/etc", "/etc/none", "/etc/x;touch pwned"})
                EXPECT_EQ(path_exists(absent), 0) << absent;
            EXPECT_EQ(cat_first_line("/etc/x; touch /tmp/pwned", line, sizeof line), 0);
        },
        true);
    EXPECT_FALSE(b.exists("/tmp/pwned"));
    // file_contains reads pieces of 79 characters: "NEEDLE" at 78 straddles two of them.
    b.write("/tmp/f",
            "first\n" + std::string(77, '.') + "NEEDLE" + std::string(20, '.') + "\npin\n");
    const std::tuple<const char*, const char*, int> searches[] = {
        {"pin", "/tmp/f", 1},    {"first", "/tmp/f", 1},  {"DLE...", "/tmp/f", 1},
        {"NEEDLE", "/tmp/f", 0}, {"absent", "/tmp/f", 0}, {"pin", "/tmp/none", 0}};
    for (const auto& [text, file, found] : searches)
        EXPECT_EQ(file_contains(text, file), found) << text << " in " << file;
}

std::string identity(const char* text, std::size_t size = 400) {
    char out[512];
    std::memset(out, '#', sizeof out);
    const int length = device_identity(text, out, size);
    EXPECT_EQ(length, static_cast<int>(std::strlen(out)));
    EXPECT_EQ(out[size], '#'); // nothing past the caller's buffer
    return out;
}

TEST(DeviceIdentity, NamesBoardVariantFpgaSoftwareAndAddressAndTheUnitType) {
    const std::string tail = ",1.0.0,2026-12-01,00:50:c2:00:00:01,sim";
    const std::tuple<const char*, const char*, std::string> rows[] = {
        {"board_id=0x3632\nvariant=0x2D54\nfpga_version=0x105\n", "A", "ZuVo62xxT,A,105" + tail},
        {"board_id=0x3634\nvariant=0x2D52\nfpga_version=0x102\n", "x y",
         "ZuVo64xxR,x y,102" + tail},
        {"board_id=0x3633\nvariant=0\nfpga_version=0x8000\n", "", "ZuVo??xxR,,FFFF8000" + tail},
        {"board_id=0x3632\nvariant=0x2D55\nfpga_version=0xFFFF\n", "%s",
         "ZuVo62xxR,%s,FFFFFFFF" + tail},
    };
    for (const auto& [conf, text, expected] : rows) {
        board b(conf);
        EXPECT_EQ(identity(text), expected);
    }
    board b(std::get<0>(rows[0]));
    const std::string full = "ZuVo62xxT,A,105" + tail;
    EXPECT_TRUE(
        contains(stdout_of([&] { EXPECT_EQ(identity("A", full.size()), ""); }), "does not fit"));
    EXPECT_EQ(identity("A", full.size() + 1), full);
    // Fields are first lines without control bytes within their buffers; an address longer
    // than its field is refused by the reader and leaves it empty, as a missing file does.
    b.write("/etc/version", "2.\t1\r\nsecond line\n");
    b.write("/etc/buildDate", std::string(100, 'd') + "\n");
    b.write("/etc/.appSource", std::string(200, 'a') + "\n");
    b.write("/sim/env.main", "ethaddr=" + std::string(40, 'e') + "\n");
    EXPECT_EQ(identity("A"),
              "ZuVo62xxT,A,105,2.1," + std::string(31, 'd') + ",," + std::string(127, 'a'));
    b.remove("/etc/version");
    b.remove("/etc/.appSource");
    stdout_of([] { EXPECT_EQ(identity("A"), "ZuVo62xxT,A,105,," + std::string(31, 'd') + ",,"); },
              true);
    // The unit type: the first line without trailing blanks, else the default word.
    char type[64] = {}, small[8], tiny[4] = {'#', '#', '#', '#'};
    b.write("/etc/unitType", "INTERCOM  \r\nOTHER\n");
    EXPECT_EQ(unit_type_get(type, sizeof type), 1);
    EXPECT_STREQ(type, "INTERCOM");
    stdout_of([&] { // too long for these buffers: the default word, as far as it fits
        EXPECT_EQ(unit_type_get(small, 8), 0);
        EXPECT_EQ(unit_type_get(tiny, 3), 0);
    });
    EXPECT_STREQ(small, "pelmor");
    EXPECT_EQ(std::string(tiny, 4), std::string("pe\0#", 4));
    b.remove("/etc/unitType");
    const long open = open_descriptors();
    stdout_of([&] { EXPECT_EQ(unit_type_get(type, sizeof type), 0); }, true);
    EXPECT_STREQ(type, "pelmor");
    EXPECT_EQ(open_descriptors(), open); // the tool's pipe closed when it printed nothing
}

TEST(Process, ShellAndPopenRunnersTheirLimitPidofPpp0AndTheStopAndRestart) {
    board b;
    EXPECT_EQ(run_shell(nullptr), 1);
    EXPECT_EQ(run_shell("true"), 0);
    EXPECT_EQ(run_shell("exit 3"), 3 * 256);
    stdout_of([] { EXPECT_EQ(run_shell("obrabi-no-such-command"), 127 * 256); }, true);
    const int killed = run_shell("kill -9 $$");
    ASSERT_TRUE(WIFSIGNALED(killed)) << killed;
    EXPECT_EQ(WTERMSIG(killed), SIGKILL);
    // run_popen waits for its command, which may have 127 characters and no more.
    EXPECT_EQ(run_popen(("sleep 0.2; touch '" + b.path("/tmp/ran") + "'").c_str()), 1);
    EXPECT_TRUE(b.exists("/tmp/ran"));
    for (const std::size_t length : {RUN_POPEN_COMMAND_SIZE - 1, RUN_POPEN_COMMAND_SIZE}) {
        const std::string name = "/tmp/at" + std::to_string(length);
        std::string cmd = "touch '" + b.path(name) + "'";
        cmd.resize(length, ' ');
        const bool fits = length < 128;
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(run_popen(cmd.c_str()), fits); }),
                  fits ? ""
                       : "command of 128 characters longer than 127, not run: " +
                             cmd.substr(0, 40) + "\n");
        EXPECT_EQ(b.exists(name), fits);
    }
    // A process of a name no other has: a copy of sleep.
    const std::string name = "obrsl" + std::to_string(getpid() % 100000),
                      exe = b.path("/tmp/" + name);
    ASSERT_EQ(std::system(("cp \"$(command -v sleep)\" '" + exe + "'").c_str()), 0);
    EXPECT_EQ(pidof_value(name.c_str()), 0);
    const pid_t child = fork();
    if (child == 0) {
        execl(exe.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_TRUE(wait_for([&] { return pidof_value(name.c_str()) == child; }));
    EXPECT_EQ(kill(child, SIGTERM), 0);
    EXPECT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_EQ(pidof_value(name.c_str()), 0);
    for (const std::string& odd :
         {"x; touch '" + b.path("/tmp/pwned") + "'", "$(touch '" + b.path("/tmp/pwned") + "')"})
        EXPECT_EQ(pidof_value(odd.c_str()), 0) << odd;
    EXPECT_FALSE(b.exists("/tmp/pwned"));
    EXPECT_TRUE(contains(
        stdout_of([] { EXPECT_EQ(pidof_value(std::string(200, 'n').c_str()), 0); }), "too long"));
    // The stops and the restart go through the board's seam, which records them.
    EXPECT_EQ(stop_and_reboot(), 0);
    EXPECT_EQ(b.traced(),
              (lines{"killall name=zuvo", "killall name=obra", "reboot how=0x1234567"}));
    // ppp0_link_up follows ifconfig's listing (a stand-in here) and leaves no scratch file.
    b.write("/bin/ifconfig",
            "#!/bin/sh\n[ \"$1\" = ppp0 ] && [ -f '" + b.path("/sim/ppp0") +
                "' ] && echo 'ppp0      Link encap:Point-to-Point Protocol' || exit 1\n",
            0755);
    const std::string path = std::getenv("PATH");
    setenv("PATH", (b.path("/bin") + ":" + path).c_str(), 1);
    EXPECT_EQ(ppp0_link_up(), 0);
    b.write("/sim/ppp0", "");
    EXPECT_EQ(ppp0_link_up(), 1);
    EXPECT_FALSE(b.exists(PPP0_SCRATCH_FILE));
    // A link or FIFO planted at the scratch file: never written through, never waited on.
    b.write("/etc/victim", "untouched\n");
    for (const bool link : {true, false}) {
        const std::string scratch = b.path(PPP0_SCRATCH_FILE);
        ASSERT_EQ(link ? symlink(b.path("/etc/victim").c_str(), scratch.c_str())
                       : mkfifo(scratch.c_str(), 0666),
                  0);
        EXPECT_EQ(ppp0_link_up(), 1) << link;
        EXPECT_EQ(b.read("/etc/victim"), "untouched\n") << link;
        EXPECT_FALSE(b.exists(PPP0_SCRATCH_FILE)) << link;
    }
    setenv("PATH", path.c_str(), 1);
}

TEST(HexDumpWaitAndResolve, DumpLayoutsWholeSecondsAndNumericHostsOfBothFamilies) {
    uint8_t bytes[33] = {0x00, 0x01, 0x0A, 0xAB, 0xFF};
    std::iota(bytes + 5, bytes + 33, 5);
    const std::string line = "00 01 0A AB FF 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n";
    const std::tuple<void (*)(const uint8_t*, int), int, std::string> rows[] = {
        {hex_dump_marked, 3, ">>\n\n00 01 0A \n"},
        {hex_dump_marked, 16, ">>\n\n" + line},
        {hex_dump_marked, 17, ">>\n\n" + line + "10 \n"},
        {hex_dump_marked, 0, ">>\n\n"},
        {hex_dump, 16, "\n" + line + "\n"},
        {hex_dump, 0, "\n\n"},
        {hex_dump, 33, "\n" + line + "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \n20 \n"},
    };
    log_to_screen();
    for (const auto& [dump, count, expected] : rows)
        EXPECT_EQ(stdout_of([&] { dump(bytes, count); }), expected) << count;
    EXPECT_EQ(wait_seconds(0), 0);
    EXPECT_EQ(wait_seconds(-3), 0);
    EXPECT_EQ(sleep_seconds(0), 0u);
    // Whole seconds across the wraps of the microseconds: readings 0.3 s apart from 10.7 s,
    // the wait ends at the 7th after the start (12.8 s), the first 2 s or more after it.
    clockReadings = 0;
    EXPECT_EQ(wait_seconds(2), 0);
    EXPECT_EQ(clockReadings, 8);
    clockReadings = -1;
    char text[64];
    for (const char* host : {"127.0.0.1", "::1"}) {
        const std::string log =
            stdout_of([&] { EXPECT_EQ(resolve_host(host, text, sizeof text), 0); });
        EXPECT_STREQ(text, host);
        EXPECT_TRUE(contains(log, std::string(host[1] == ':' ? "IPv6" : "IPv4") +
                                      " address: " + host + " ("));
    }
    std::memset(text, '#', sizeof text);
    EXPECT_TRUE(contains(stdout_of([&] { EXPECT_EQ(resolve_host("", text, 8), -1); }, true),
                         "getaddrinfo: "));
    stdout_of([&] { EXPECT_EQ(resolve_host("10.200.200.200", text, 8), -1); });
    EXPECT_EQ(std::string(text, 8), std::string(8, '#'));
}

} // namespace
