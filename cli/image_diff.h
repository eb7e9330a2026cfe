#pragma once

#include "image/parameter_image.h"

#include <string>
#include <vector>

// Cell-by-cell comparison of two images over the cells a coin data file keeps (0..255).
namespace quarvel::cli {

// A cell's meaning as the settings show it, from the byte programming sends: "Tol-A 10, Disable
// No, Separator 0" for a CoinControl, the 16-bit reference for either half of an A reference,
// the byte of any other selector cell. Empty for tool-only cells, which carry no meaning for the selector.
std::string cellMeaning(const ParameterImage& image, int address);

struct CellDifference
{
    int address = 0;
    std::string field;
    std::string textA;
    std::string textB;
    std::string meaningA;
    std::string meaningB;
    bool operator==(const CellDifference&) const = default;
};

// Cells whose texts differ, in address order. Texts are compared as they stand: "7" and
// "007" program the same byte but are different files.
std::vector<CellDifference> diffImages(const ParameterImage& a, const ParameterImage& b);

// One line per difference: address, field, then A's text and meaning -> B's.
std::string differencesText(const std::vector<CellDifference>& differences);

} // namespace quarvel::cli
