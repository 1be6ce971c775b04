// Lines about dropped datagrams, on a clock the test steps: the first of each kind in full,
// then at most one summary a minute, so that a long flood leaves the start-up in the log.
#include "net/rx_path.h"

#include "log/log.h"
#include "support/board_dir.h"

#include <arpa/inet.h>
#include <regex>
#include <string>

namespace {

constexpr const char* ALLOWED = "127.0.0.2";

struct drop_case {
    int64_t atMs;
    const char* sender; // nullptr: the loop's idle pass, no datagram
    long length;
    const char* lines; // what is written at that moment
};

class RxDropLog : public ::testing::Test {
  protected:
    void SetUp() override { link.src_filter.sin_addr.s_addr = inet_addr(ALLOWED); }
    // One datagram from sender, or the idle pass when sender is nullptr.
    void step(const char* sender, long length, int64_t nowMs) {
        if (sender == nullptr) {
            rx_drop_flush(state.senderLog, nowMs);
            rx_drop_flush(state.lengthLog, nowMs);
            return;
        }
        state.sender.sin_addr.s_addr = inet_addr(sender);
        EXPECT_NE(rx_handle_datagram(link, state, length, nowMs), rx_step::played);
    }
    udp_link link;
    rx_state state;
};

TEST_F(RxDropLog, FirstLineThenOneSummaryAMinuteThenFirstLineAgainAfterQuiet) {
    const drop_case cases[] = {
        {0, "127.0.0.3", 776, "audio recevied from unknown device(127.0.0.3)!\n"},
        {10, "127.0.0.3", 776, ""},
        {1000, ALLOWED, 10, "audio datagram of 10 bytes dropped\n"},
        {30000, ALLOWED, 0, ""},
        {59999, "127.0.0.4", 776, ""},
        {60000, "127.0.0.4", 700,
         "audio from unknown devices: 3 more dropped, the last from 127.0.0.4\n"},
        {60500, nullptr, 0, ""},
        {61000, nullptr, 0,
         "audio datagrams of wrong length: 1 more dropped, the last of 0 bytes\n"},
        {100000, "127.0.0.5", 776, ""}, // within the minute after the summary: held
        {120000, nullptr, 0,
         "audio from unknown devices: 1 more dropped, the last from 127.0.0.5\n"},
        {121000, nullptr, 0, ""}, // nothing held: nothing written
        // A minute without drops: the next one is a first line again.
        {180000, "127.0.0.6", 776, "audio recevied from unknown device(127.0.0.6)!\n"},
        {181000, ALLOWED, 2000, "audio datagram of 2000 bytes dropped\n"},
    };
    for (const drop_case& c : cases) {
        testing::internal::CaptureStdout();
        step(c.sender, c.length, c.atMs);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.lines) << "at " << c.atMs;
    }
    EXPECT_EQ(state.received, 9u);
    EXPECT_EQ(state.droppedSender, 6u);
    EXPECT_EQ(state.droppedLength, 3u);
}

// Counts in the summary lines of one kind, and how many first lines there are.
struct kind_lines {
    int first = 0;
    int summaries = 0;
    unsigned long summed = 0;
};

kind_lines lines_of(const std::string& text, const std::string& first, const std::regex& summary) {
    kind_lines k;
    for (size_t at = 0; (at = text.find(first, at)) != std::string::npos; at += first.size())
        ++k.first;
    for (std::sregex_iterator it(text.begin(), text.end(), summary), end; it != end; ++it) {
        ++k.summaries;
        k.summed += std::stoul((*it)[1]);
    }
    return k;
}

TEST_F(RxDropLog, TenMinuteFloodLeavesTheStartUpInTheLogOrItsBackup) {
    // An empty log, and one so full that the flood's lines rotate it.
    for (size_t before : {size_t{0}, size_t{7600}}) {
        SCOPED_TRACE(before);
        board_dir board;
        board.write("/tmp/.print_obraBi", std::string(before, 'x'));
        log_to_file();
        ASSERT_EQ(log_set_path("/tmp/.print_obraBi"), 1);
        log_reset_line_start();
        state = rx_state{};
        log_printf("init Receiver !!!!!\n");
        log_printf("Recv Ip=%s:%d\n", "127.0.0.1", 4956);

        // A foreign datagram and a short one from the allowed sender every millisecond.
        constexpr int64_t FLOOD_MS = 10 * 60 * 1000;
        for (int64_t t = 0; t < FLOOD_MS; ++t) {
            step((t & 1) != 0 ? "10.0.0.9" : "10.0.0.8", ALAW_PACKET_SIZE, t);
            step(ALLOWED, 100, t);
            if (t % 30 == 0)
                step(nullptr, 0, t);
        }
        step(nullptr, 0, FLOOD_MS - 1 + RX_DROP_SUMMARY_MS); // what is held goes out at last
        log_to_screen();

        const std::string text =
            board.read("/tmp/.print_obraBi.bak") + board.read("/tmp/.print_obraBi");
        EXPECT_NE(text.find("] init Receiver !!!!!\n"), std::string::npos);
        EXPECT_NE(text.find("] Recv Ip=127.0.0.1:4956\n"), std::string::npos);
        const kind_lines foreign = lines_of(
            text, "audio recevied from unknown device(10.0.0.8)!\n",
            std::regex(R"(unknown devices: (\d+) more dropped, the last from 10\.0\.0\.[89]\n)"));
        const kind_lines wrong =
            lines_of(text, "audio datagram of 100 bytes dropped\n",
                     std::regex(R"(wrong length: (\d+) more dropped, the last of 100 bytes\n)"));
        for (const kind_lines& k : {foreign, wrong}) {
            EXPECT_EQ(k.first, 1);
            EXPECT_GE(k.summaries, 10);
            EXPECT_LE(k.summaries, 11);
            // Every drop is accounted for: the first line and the counts of the summaries.
            EXPECT_EQ(k.summed + 1, static_cast<unsigned long>(FLOOD_MS));
        }
        EXPECT_EQ(state.droppedSender + state.droppedLength, 2u * FLOOD_MS);
    }
}

} // namespace
