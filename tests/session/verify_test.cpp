// Verify compares what programming sent with what was read back, byte by byte.
#include "session/programming.h"

#include "image/address_map.h"

#include <gtest/gtest.h>

namespace quarvel::session {
namespace {

ParameterImage filled(const std::string& text)
{
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
        image.setText(a, text);
    return image;
}

TEST(ProgramVerify, CountsTheThreeRanges)
{
    EXPECT_EQ(ProgramResult::cellsInRanges(), 85 + 38 + 61);
}

TEST(ProgramVerify, ComparesProgrammedCellsByTheByteSent)
{
    const struct
    {
        const char* name;
        int address;
        const char* programmedText;
        const char* readBackText;
        bool mismatch;
    } cases[] = {
        {"same byte", 10, "100", "100", false},
        {"reduced like programming", 10, "300", "44", false},
        {"half to even", 10, "12.5", "12", false},
        {"empty sends 0", 10, "", "0", false},
        {"differs", 10, "100", "99", true},
        {"first cell", 0, "1", "2", true},
        {"last cell", 188, "1", "2", true},
        {"first of second range", 86, "1", "2", true},
        {"last of first range", 84, "1", "2", true},
        {"last of second range", 123, "1", "2", true},
        {"serial number never programmed", 85, "1", "2", false},
        {"second calibration set never programmed", 125, "1", "2", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParameterImage programmed = filled("7");
        ParameterImage readBack = filled("7");
        programmed.setText(c.address, c.programmedText);
        readBack.setText(c.address, c.readBackText);
        const auto mismatches = verifyMismatches(programmed, readBack);
        ASSERT_EQ(mismatches.size(), c.mismatch ? 1u : 0u);
        if (c.mismatch) {
            EXPECT_EQ(mismatches[0].cell, c.address);
        }
    }
}

TEST(ProgramVerify, NamesEachMismatchByItsField)
{
    ParameterImage programmed = filled("7");
    ParameterImage readBack = filled("7");
    programmed.setText(6, "300");
    readBack.setText(6, "43");
    readBack.setText(120, "0");
    const auto mismatches = verifyMismatches(programmed, readBack);
    const std::vector<VerifyMismatch> expected{{6, QStringLiteral("coin 1 CoinValue"), 44, 43},
                                               {120, QStringLiteral("Std1 low"), 7, 0}};
    EXPECT_EQ(mismatches, expected);
}

// A backup of another selector is told by the cells no programming writes, every one of them.
TEST(ProgramIdentity, EveryCellNoRangeWritesTellsSelectorsApart)
{
    for (int cell = 0; cell < ParameterImage::kSelectorCells; ++cell) {
        SCOPED_TRACE(cell);
        const ParameterImage selector = filled("7");
        ParameterImage backup = selector;
        backup.setText(cell, "8");
        bool programmed = false;
        for (const auto& range : address::kProgrammingRanges)
            programmed = programmed || (cell >= range.first && cell <= range.last);
        EXPECT_EQ(identityDifferences(backup, selector),
                  programmed ? std::vector<int>{} : std::vector<int>{cell});
        EXPECT_EQ(otherSelectorQuestion(backup, selector).isEmpty(), programmed);
    }
}

} // namespace
} // namespace quarvel::session
