// State file reader on arbitrary bytes: a port from 1..4 always comes out, and what it read
// is written and read back unchanged.
#include "fuzz_input.h"
#include "image/state_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using quarvel::fuzz::check;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quarvel::StateFile state = quarvel::parseStateFile(text);
    const int port = state.startupPort();
    check(port >= 1 && port <= quarvel::StateFile::kMarkedPorts);

    // Names are written in quotes without escaping, so a name holding a quote cannot survive.
    if (state.recentName1.find('"') == std::string::npos && state.recentName2.find('"') == std::string::npos)
        check(quarvel::parseStateFile(quarvel::serializeStateFile(state)) == state);
    return 0;
}
