// The two hex dump layouts, as logged to standard output.
#include "log/log.h"
#include "util/hex_dump.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace {

template <typename Dump> std::string dump(Dump d, const uint8_t* bytes, int count) {
    log_to_screen();
    testing::internal::CaptureStdout();
    d(bytes, count);
    return testing::internal::GetCapturedStdout();
}

const uint8_t bytes[33] = {0x00, 0x01, 0x0A, 0xAB, 0xFF, 5,  6,  7,  8,  9,  10,
                           11,   12,   13,   14,   15,   16, 17, 18, 19, 20, 21,
                           22,   23,   24,   25,   26,   27, 28, 29, 30, 31, 32};

TEST(HexDump, MarkedBreaksBeforeEachSixteenth) {
    EXPECT_EQ(dump(hex_dump_marked, bytes, 3), ">>\n\n00 01 0A \n");
    EXPECT_EQ(dump(hex_dump_marked, bytes, 16),
              ">>\n\n00 01 0A AB FF 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n");
    EXPECT_EQ(dump(hex_dump_marked, bytes, 17),
              ">>\n\n00 01 0A AB FF 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n10 \n");
    EXPECT_EQ(dump(hex_dump_marked, bytes, 0), ">>\n\n");
    EXPECT_EQ(dump(hex_dump_marked, bytes, -4), ">>\n\n");
}

TEST(HexDump, PlainBreaksAfterEachSixteenth) {
    EXPECT_EQ(dump(hex_dump, bytes, 3), "\n00 01 0A \n");
    EXPECT_EQ(dump(hex_dump, bytes, 16), "\n00 01 0A AB FF 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n\n");
    EXPECT_EQ(dump(hex_dump, bytes, 33), "\n00 01 0A AB FF 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
                                         "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \n20 \n");
    EXPECT_EQ(dump(hex_dump, bytes, 0), "\n\n");
    EXPECT_EQ(dump(hex_dump, bytes, -1), "\n\n");
}

} // namespace
