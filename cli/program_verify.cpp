#include "program_verify.h"

#include "text_columns.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "link/program_transfer.h"

namespace quarvel::cli {

int programmedCellCount()
{
    int count = 0;
    for (const auto& range : link::kProgramRanges)
        count += range.last - range.first + 1;
    return count;
}

std::vector<VerifyMismatch> verifyProgrammed(const ParameterImage& programmed, const ParameterImage& readBack)
{
    std::vector<VerifyMismatch> mismatches;
    for (const auto& range : link::kProgramRanges) {
        for (int cell = range.first; cell <= range.last; ++cell) {
            const int expected = cellByte(programmed.text(cell));
            const int actual = cellByte(readBack.text(cell));
            if (expected != actual) mismatches.push_back({cell, address::fieldName(cell), expected, actual});
        }
    }
    return mismatches;
}

std::string mismatchesText(const std::vector<VerifyMismatch>& mismatches)
{
    std::string out = "address  field                   expected  actual\n";
    for (const auto& m : mismatches) {
        out += padRight(std::to_string(m.address), 9) + padRight(m.field, 24) +
               padRight(std::to_string(m.expected), 10) + std::to_string(m.actual) + "\n";
    }
    return out;
}

} // namespace quarvel::cli
