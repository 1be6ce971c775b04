// The device identity string on the boards of the edge cases, and the unit type.
#include "board/fpga.h"
#include "util/identity.h"
#include "util_board.h"

#include <cstring>

namespace {

// A new board with its FPGA mapped and the identity registers set.
struct identity_board : util_board {
    identity_board(uint16_t boardId, uint16_t variant, uint16_t version) {
        configure("board_id=" + std::to_string(boardId) + "\nvariant=" + std::to_string(variant) +
                  "\nfpga_version=" + std::to_string(version) + "\n");
        testing::internal::CaptureStdout();
        map_fpga_banks();
        testing::internal::GetCapturedStdout();
    }
};

std::string identity(const char* text) {
    char out[512];
    std::memset(out, 'x', sizeof out);
    int n = device_identity(text, out, sizeof out);
    EXPECT_EQ(n, static_cast<int>(std::strlen(out)));
    return out;
}

TEST(DeviceIdentity, NamesBoardVariantFpgaSoftwareAndAddress) {
    identity_board b(0x3632, 0x2D54, 0x105);
    EXPECT_EQ(identity("A"), "ZuVo62xxT,A,105,1.0.0,2026-12-01,00:50:c2:00:00:01,sim");
}

TEST(DeviceIdentity, OtherBoardsVariantsAndNegativeVersions) {
    {
        identity_board b(0x3634, 0x2D52, 0x0102);
        EXPECT_EQ(identity("x y"), "ZuVo64xxR,x y,102,1.0.0,2026-12-01,00:50:c2:00:00:01,sim");
    }
    {
        identity_board b(0x3633, 0x0000, 0x8000);
        EXPECT_EQ(identity(""), "ZuVo??xxR,,FFFF8000,1.0.0,2026-12-01,00:50:c2:00:00:01,sim");
    }
    {
        identity_board b(0x3632, 0x2D55, 0xFFFF);
        EXPECT_EQ(identity("%s"), "ZuVo62xxR,%s,FFFFFFFF,1.0.0,2026-12-01,00:50:c2:00:00:01,sim");
    }
}

TEST(DeviceIdentity, MissingFilesAndKeyLeaveEmptyFieldsBetweenAllSixCommas) {
    identity_board b(0x3632, 0x2D54, 0x105);
    b.remove("/etc/version");
    b.remove("/etc/buildDate");
    b.remove("/etc/.appSource");
    b.write("/sim/env.main", "INTERCOMM=1\n");
    testing::internal::CaptureStderr(); // cat's complaints about the missing files
    EXPECT_EQ(identity("A"), "ZuVo62xxT,A,105,,,,");
    testing::internal::GetCapturedStderr();
}

TEST(DeviceIdentity, FieldsAreFirstLinesWithoutControlBytesAndWithinTheirBuffers) {
    identity_board b(0x3632, 0x2D54, 0x105);
    b.write("/etc/version", "2.\t1\r\nsecond line\n");
    b.write("/etc/buildDate", std::string(100, 'd') + "\n");
    b.write("/etc/.appSource", std::string(200, 'a') + "\n");
    // An address longer than its field is refused by the reader: the field stays empty.
    b.write("/sim/env.main", "ethaddr=" + std::string(40, 'e') + "\n");
    std::string got;
    testing::internal::CaptureStdout();
    got = identity("A");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(got, "ZuVo62xxT,A,105,2.1," + std::string(31, 'd') + ",," + std::string(127, 'a'));
}

TEST(DeviceIdentity, NeverWritesPastTheCallersBuffer) {
    identity_board b(0x3632, 0x2D54, 0x105);
    const std::string full = "ZuVo62xxT,A,105,1.0.0,2026-12-01,00:50:c2:00:00:01,sim";
    char out[128];
    std::memset(out, '#', sizeof out);
    // Room for the string but not its terminator: refused, and nothing beyond the buffer.
    testing::internal::CaptureStdout();
    EXPECT_EQ(device_identity("A", out, full.size()), 0);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_STREQ(out, "");
    for (size_t i = full.size(); i < sizeof out; ++i)
        ASSERT_EQ(out[i], '#') << "byte " << i;
    EXPECT_TRUE(contains(log, "does not fit")) << log;

    EXPECT_EQ(device_identity("A", out, full.size() + 1), static_cast<int>(full.size()));
    EXPECT_EQ(std::string(out), full);
}

TEST(UnitType, FirstLineWithoutTrailingBlanksOrTheDefaultWord) {
    util_board b;
    char type[64] = {};
    b.write("/etc/unitType", "INTERCOM  \r\nOTHER\n");
    EXPECT_EQ(unit_type_get(type, sizeof type), 1);
    EXPECT_STREQ(type, "INTERCOM");

    b.remove("/etc/unitType");
    std::memset(type, '#', sizeof type);
    testing::internal::CaptureStderr();
    EXPECT_EQ(unit_type_get(type, sizeof type), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(type, "pelmor");

    // A word longer than the destination is refused in favour of the default.
    b.write("/etc/unitType", "INTERCOM\n");
    char small[8];
    std::memset(small, '#', sizeof small);
    testing::internal::CaptureStdout();
    EXPECT_EQ(unit_type_get(small, 8), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(small, "pelmor");
    char tiny[4] = {'#', '#', '#', '#'};
    testing::internal::CaptureStdout();
    EXPECT_EQ(unit_type_get(tiny, 3), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(tiny, "pe");
    EXPECT_EQ(tiny[3], '#');
}

} // namespace
