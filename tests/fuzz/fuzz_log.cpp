// The logger in file mode over a log of any size and any messages: each message lands whole
// (cut at 4094 characters) behind a time prefix where a line begins, a log above 8192 bytes is
// first copied whole into the backup and emptied, and log and backup stay bounded.
#include "fuzz.h"

FUZZ_TARGET([] { fuzz_board_init(""); }) {
    static constexpr const char* formats[] = {"%s\n", "%s", "%s\r", "%s\r\n"};
    constexpr std::size_t MESSAGE_MAX = LOG_MESSAGE_SIZE - 2;
    // "[Mon Dec  7 01:46:30 2026] ": an asctime text of 24 characters in brackets.
    constexpr std::size_t PREFIX_MAX = 64;
    constexpr std::size_t LOG_BOUND = LOG_ROTATE_ABOVE + PREFIX_MAX + MESSAGE_MAX + 2;
    const std::size_t high = in.byte();
    const std::size_t logSize = (high << 8 | in.byte()) % 20000;
    const uint8_t how = in.byte();
    std::string old(logSize, static_cast<char>(in.byte())); // lines of the fill byte
    for (std::size_t i = 79; i < logSize; i += 80)
        old[i] = '\n';
    (how & 1) != 0 ? fuzz_remove("/tmp/fuzz.log") : fuzz_write("/tmp/fuzz.log", old);
    (how & 2) != 0 ? fuzz_write("/tmp/fuzz.log.bak", "an old backup\n")
                   : fuzz_remove("/tmp/fuzz.log.bak");
    log_reset_line_start();
    bool lineStart = true;
    for (int messages = 0; in.pos < in.size && messages < 64; ++messages) {
        const char* format = formats[in.byte() % 4];
        const std::string message = in.text(5000);
        const std::string before = fuzz_read("/tmp/fuzz.log").value_or("");
        const auto bakBefore = fuzz_read("/tmp/fuzz.log.bak");
        log_printf(format, message.c_str());
        const std::string after = fuzz_read("/tmp/fuzz.log").value();
        const auto bak = fuzz_read("/tmp/fuzz.log.bak");
        const bool rotated = before.size() > static_cast<std::size_t>(LOG_ROTATE_ABOVE);
        FUZZ_CHECK(rotated ? bak == before : bak == bakBefore && after.starts_with(before));
        // What the message added: its text, cut, behind a time stamp.
        const std::string text =
            (message.substr(0, MESSAGE_MAX) + (format + 2)).substr(0, MESSAGE_MAX);
        const std::string added = after.substr(rotated ? 0 : before.size());
        // A stamp of bounded length exactly where a line began (its form: the unit tests').
        const std::size_t stamp = added.size() - text.size();
        FUZZ_CHECK(added.ends_with(text) && (stamp != 0) == lineStart && stamp <= PREFIX_MAX,
                   "%zu bytes added for %zu\n", added.size(), text.size());
        // The backup holds the log of before until the first rotation.
        FUZZ_CHECK(after.size() <= LOG_BOUND &&
                   bak.value_or("").size() <= std::max(logSize, LOG_BOUND));
        lineStart = format[2] != '\0';
    }
}
