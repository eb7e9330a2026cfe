#include "sim_setup.h"

#include "image_files.h"

#include "link/program_transfer.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quarvel::cli {

bool setUpSimulator(sim::VirtualSelector& model, const SimOptions& options, QString* error)
{
    if (!options.memoryFile.isEmpty()) {
        const ImageFileRead read = readImageFile(options.memoryFile);
        if (!read.file) {
            *error = read.error;
            return false;
        }
        // Each value as programming would send it, so a simulated selector holds what a real
        // one programmed from the same file would.
        const std::size_t count =
            std::min<std::size_t>(read.file->values.size(), sim::VirtualSelector::kCellCount);
        std::vector<std::uint8_t> bytes;
        bytes.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            bytes.push_back(link::ProgramTransfer::cellByte(read.file->values[i]));
        model.loadMemory(bytes);
    }
    model.setFaultPlan(options.faults);
    return true;
}

} // namespace quarvel::cli
