#pragma once

#include "image/parameter_image.h"

namespace quarvel::test_support {

// Every cell holds kUntouched, so a test sees exactly which cells an operation wrote.
inline constexpr const char* kUntouched = "old";

inline ParameterImage markedImage()
{
    ParameterImage image;
    for (int cell = 0; cell < ParameterImage::kCellCount; ++cell)
        image.setText(cell, kUntouched);
    return image;
}

} // namespace quarvel::test_support
