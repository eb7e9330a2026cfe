#pragma once

#include "image/parameter_image.h"

#include <array>
#include <string>
#include <vector>

// Checking a programmed selector against the image that was sent to it.
namespace quarvel::cli {

struct AddressRange
{
    int first = 0;
    int last = 0; // inclusive
};

// The cells the full programming writes: the three ranges programJobs() sends. Cell 85 and
// the second calibration set 124..127 are never written, so they are not checked either.
inline constexpr std::array<AddressRange, 3> kProgrammedRanges{{{0, 84}, {86, 123}, {128, 188}}};

int programmedCellCount();

struct VerifyMismatch
{
    int address = 0;
    std::string field;
    int expected = 0;
    int actual = 0;
    bool operator==(const VerifyMismatch&) const = default;
};

// programmed is the image after programming, its fixed cells stamped: each programmed
// cell's expected byte is what programming sends for its text. readBack holds the bytes read
// from the selector afterwards.
std::vector<VerifyMismatch> verifyProgrammed(const ParameterImage& programmed,
                                             const ParameterImage& readBack);

// A heading "address  field  expected  actual" and one line per mismatch.
std::string mismatchesText(const std::vector<VerifyMismatch>& mismatches);

} // namespace quarvel::cli
