#pragma once

// The terminal, as far as quarvelctl's output needs to know it.
namespace quarvel::cli {

// True when standard error is a terminal that shows the progress bar as it is redrawn.
bool stderrIsTerminal();

} // namespace quarvel::cli
