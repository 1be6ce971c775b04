// line_limit_note, line_limit_take: when a repeated line may be written.
#include "log/line_limit.h"

namespace {

bool interval_passed(const line_limit& limit, int64_t nowUs) {
    return nowUs - limit.lastLineUs >= LINE_LIMIT_INTERVAL_US;
}

} // namespace

int line_limit_note(line_limit& limit, int64_t nowUs) {
    if (!limit.anyLine || (limit.held == 0 && interval_passed(limit, nowUs))) {
        limit.anyLine = true;
        limit.lastLineUs = nowUs;
        return 1;
    }
    ++limit.held;
    return 0;
}

unsigned long line_limit_take(line_limit& limit, int64_t nowUs) {
    if (limit.held == 0 || !interval_passed(limit, nowUs))
        return 0;
    const unsigned long held = limit.held;
    limit.held = 0;
    limit.lastLineUs = nowUs;
    return held;
}
