// The logger in file mode over a log of any size and any messages: each message lands whole
// (cut at 4094 characters) behind a time prefix where a line begins, a log above 8192 bytes is
// first copied whole into the backup and emptied, and log and backup stay bounded.
#include "fuzz_board.h"

#include "log/log.h"

#include <algorithm>

namespace {

constexpr const char* LOG = "/tmp/fuzz.log";
constexpr const char* BAK = "/tmp/fuzz.log.bak";
constexpr const char* formats[] = {"%s\n", "%s", "%s\r", "%s\r\n"};
constexpr std::size_t MESSAGE_MAX = LOG_MESSAGE_SIZE - 2;
// "[Mon Dec  7 01:46:30 2026] ": an asctime text of 24 characters in brackets.
constexpr std::size_t PREFIX_MAX = 64;
constexpr std::size_t LOG_BOUND = LOG_ROTATE_ABOVE + PREFIX_MAX + MESSAGE_MAX + 2;

// A pre-existing log of the given size: lines of the fill byte.
std::string old_log(std::size_t size, char fill) {
    std::string s(size, fill);
    for (std::size_t i = 79; i < size; i += 80)
        s[i] = '\n';
    return s;
}

// What one message must have added: text, behind a time prefix when a line began.
void check_added(const std::string& added, const std::string& text, bool prefixed) {
    FUZZ_CHECK(added.size() >= text.size() &&
                   added.compare(added.size() - text.size(), text.size(), text) == 0,
               "message of %zu bytes not at the end of the log", text.size());
    const std::string prefix = added.substr(0, added.size() - text.size());
    if (!prefixed) {
        FUZZ_CHECK(prefix.empty(), "unexpected prefix '%s'", prefix.c_str());
        return;
    }
    FUZZ_CHECK(prefix.size() > 3 && prefix.size() <= PREFIX_MAX && prefix.front() == '[' &&
                   prefix.compare(prefix.size() - 2, 2, "] ") == 0,
               "bad prefix '%s'", prefix.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_board_init();
    fuzz_input in{data, size};
    const std::size_t high = in.byte();
    const std::size_t logSize = (high << 8 | in.byte()) % 20000;
    const uint8_t how = in.byte();
    const char fill = static_cast<char>(in.byte());
    fuzz_remove(BAK);
    if ((how & 1) != 0)
        fuzz_remove(LOG);
    else
        fuzz_write(LOG, old_log(logSize, fill));
    if ((how & 2) != 0)
        fuzz_write(BAK, "an old backup\n");
    log_reset_line_start();

    bool lineStart = true;
    // The backup holds the log of before until the first rotation.
    const std::size_t bakBound = std::max(logSize, LOG_BOUND);
    for (int messages = 0; in.pos < in.size && messages < 64; ++messages) {
        const char* format = formats[in.byte() % 4];
        const std::string message = in.text(5000);
        std::string before;
        const bool existed = fuzz_read(LOG, before);
        std::string bakBefore;
        const bool hadBak = fuzz_read(BAK, bakBefore);

        log_printf(format, message.c_str());

        std::string after;
        FUZZ_CHECK(fuzz_read(LOG, after), "no log after a message");
        std::string text = message.substr(0, MESSAGE_MAX) + (format + 2);
        text.resize(std::min(text.size(), MESSAGE_MAX));
        std::string bak;
        const bool hasBak = fuzz_read(BAK, bak);
        if (existed && before.size() > static_cast<std::size_t>(LOG_ROTATE_ABOVE)) {
            FUZZ_CHECK(hasBak && bak == before, "backup of %zu bytes is not the log of %zu",
                       bak.size(), before.size());
            check_added(after, text, lineStart);
        } else {
            FUZZ_CHECK(hasBak == hadBak && bak == bakBefore, "backup changed without rotation");
            FUZZ_CHECK(after.compare(0, before.size(), before) == 0, "log lost its old text");
            check_added(after.substr(before.size()), text, lineStart);
        }
        FUZZ_CHECK(after.size() <= LOG_BOUND, "log of %zu bytes", after.size());
        FUZZ_CHECK(bak.size() <= bakBound, "backup of %zu bytes", bak.size());
        lineStart = format[2] != '\0';
    }
    return 0;
}
