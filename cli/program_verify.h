#pragma once

#include "image/parameter_image.h"
#include "link/program_transfer.h"

#include <string>
#include <vector>

// Checking a programmed selector against the image that was sent to it.
namespace quarvel::cli {

// The cells the full programming writes (link::kProgramRanges); cell 85 and 124..127 are
// never written, so they are not checked either.
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
