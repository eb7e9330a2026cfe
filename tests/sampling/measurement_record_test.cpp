#include "sampling/measurement_record.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using namespace quarvel::sampling;

// Records written out by hand; each case changes one thing against a good one.
TEST(MeasurementRecord, Decode)
{
    using Record = std::array<std::uint8_t, kRecordSize>;
    struct Case
    {
        const char* name;
        Record record;
        RecordCheck check;
        Sample sample;
        const char* speedText;
    };
    const std::vector<Case> cases{
        {"good",
         {0x91, 0x13, 0xBF, 0x07, 0x6A, 0x00, 0x29, 0x2A, 0x30, 0x83},
         RecordCheck::Accepted,
         {5055, 41, 42, 48, false},
         ""},
        {"irregular speed still counts",
         {0x92, 0x13, 0xBF, 0x07, 0x6B, 0x05, 0x29, 0x2A, 0x30, 0x88},
         RecordCheck::Accepted,
         {5055, 41, 42, 48, true},
         "speed strange : A=19B=191C=7X=41Y=42dH=48"},
        {"largest A",
         {0x91, 0x7F, 0xFF, 0x00, 0x0F, 0x00, 0xFF, 0xFF, 0xFF, 0xFD},
         RecordCheck::Accepted,
         {32767, 255, 255, 255, false},
         ""},
        {"A high byte 128",
         {0x91, 0x80, 0x00, 0x00, 0x11, 0x00, 0x29, 0x2A, 0x30, 0x83},
         RecordCheck::AOutOfRange,
         {},
         ""},
        {"bad first checksum",
         {0x91, 0x13, 0xBF, 0x07, 0x6B, 0x00, 0x29, 0x2A, 0x30, 0x83},
         RecordCheck::BadChecksum,
         {},
         ""},
        {"bad second checksum",
         {0x91, 0x13, 0xBF, 0x07, 0x6A, 0x00, 0x29, 0x2A, 0x30, 0x84},
         RecordCheck::BadChecksum,
         {},
         ""},
        {"any other type byte, and anything in the unused byte 5",
         {0x01, 0x13, 0xBF, 0x07, 0xDA, 0xE3, 0x29, 0x2A, 0x30, 0x66},
         RecordCheck::Accepted,
         {5055, 41, 42, 48, false},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodedRecord d = decodeRecord(c.record);
        EXPECT_EQ(d.check, c.check);
        if (c.check == RecordCheck::Accepted) {
            EXPECT_EQ(d.sample, c.sample);
        }
        EXPECT_EQ(d.speedText, c.speedText);
    }
}
