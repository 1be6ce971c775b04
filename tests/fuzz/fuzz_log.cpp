// The logger in file mode over a log of any size and any messages: each message lands whole
// (cut at 4094 characters) behind a time prefix where a line begins, a log above 8192 bytes is
// first copied whole into the backup and emptied, and log and backup stay bounded.
#include "fuzz.h"

namespace {

constexpr const char* LOG = "/tmp/fuzz.log";
constexpr const char* BAK = "/tmp/fuzz.log.bak";
constexpr std::size_t MESSAGE_MAX = LOG_MESSAGE_SIZE - 2;
// "[Mon Dec  7 01:46:30 2026] ": an asctime text of 24 characters in brackets.
constexpr std::size_t PREFIX_MAX = 64;
constexpr std::size_t LOG_BOUND = LOG_ROTATE_ABOVE + PREFIX_MAX + MESSAGE_MAX + 2;

} // namespace

FUZZ_TARGET("", [] {}) {
    static constexpr const char* formats[] = {"%s\n", "%s", "%s\r", "%s\r\n"};
    const std::size_t high = in.byte();
    const std::size_t logSize = (high << 8 | in.byte()) % 20000;
    const uint8_t how = in.byte();
    std::string old(logSize, static_cast<char>(in.byte())); // lines of the fill byte
    for (std::size_t i = 79; i < logSize; i += 80)
        old[i] = '\n';
    fuzz_remove(BAK);
    if ((how & 1) != 0)
        fuzz_remove(LOG);
    else
        fuzz_write(LOG, old);
    if ((how & 2) != 0)
        fuzz_write(BAK, "an old backup\n");
    log_reset_line_start();

    bool lineStart = true;
    // The backup holds the log of before until the first rotation.
    const std::size_t bakBound = std::max(logSize, LOG_BOUND);
    for (int messages = 0; in.pos < in.size && messages < 64; ++messages) {
        const char* format = formats[in.byte() % 4];
        const std::string message = in.text(5000);
        std::string before, bakBefore, after, bak;
        const bool existed = fuzz_read(LOG, before);
        const bool hadBak = fuzz_read(BAK, bakBefore);
        log_printf(format, message.c_str());
        FUZZ_CHECK(fuzz_read(LOG, after), "no log after a message");
        const bool hasBak = fuzz_read(BAK, bak);
        const bool rotated = existed && before.size() > static_cast<std::size_t>(LOG_ROTATE_ABOVE);
        if (rotated)
            FUZZ_CHECK(hasBak && bak == before, "backup of %zu bytes is not the log of %zu",
                       bak.size(), before.size());
        else
            FUZZ_CHECK(hasBak == hadBak && bak == bakBefore && after.starts_with(before),
                       "backup changed without rotation, or the log lost its old text");
        // What the message added: its text, cut, behind a time prefix where a line began.
        const std::string text =
            (message.substr(0, MESSAGE_MAX) + (format + 2)).substr(0, MESSAGE_MAX);
        const std::string added = rotated ? after : after.substr(before.size());
        FUZZ_CHECK(added.ends_with(text), "message of %zu bytes not at the end", text.size());
        const std::string prefix = added.substr(0, added.size() - text.size());
        FUZZ_CHECK(lineStart ? prefix.size() > 3 && prefix.size() <= PREFIX_MAX &&
                                   prefix.starts_with('[') && prefix.ends_with("] ")
                             : prefix.empty(),
                   "bad prefix '%s'", prefix.c_str());
        FUZZ_CHECK(after.size() <= LOG_BOUND && bak.size() <= bakBound,
                   "log of %zu bytes, backup of %zu", after.size(), bak.size());
        lineStart = format[2] != '\0';
    }
}
