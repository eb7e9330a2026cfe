#pragma once

#include "image/parameter_image.h"

namespace quarvel {

// The image the program starts with: clears 0..119 and sets working values for every coin,
// the output, the banks and the tolerances. Cells 120..128 and 141..270 keep their text.
void loadMainDefault(ParameterImage& image);

// The image behind "Load Default Value": clears 0..255 and sets the factory values.
// Cells 256..270 keep their text. Refreshing the settings form is the caller's business.
void loadSettingsDefault(ParameterImage& image);

} // namespace quarvel
