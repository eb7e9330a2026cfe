#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

// What the program remembers between runs: the two most recent coin data files and which of
// ports 1..4 is marked. Port 9 has no mark of its own; choosing it clears all four.
struct StateFile
{
    static constexpr int kMarkedPorts = 4;

    std::string recentName1 = "c:\\coin.syn"; // most recent: the file Save writes to
    std::string recentName2 = "c:\\aaa.syn";
    std::array<bool, kMarkedPorts> portMarked{true, false, false, false};

    // The port to open at start: 1, unless a higher one of 2..4 is marked (the highest wins).
    int startupPort() const;
    // Marks port 1..4 alone; any other port (9) leaves none marked.
    void choosePort(int port);
    // The given file becomes the most recent; the previous most recent moves to second place.
    void setMostRecent(std::string name);

    bool operator==(const StateFile&) const = default;
};

// Six lines: the two names in double quotes, then "#TRUE#" or "#FALSE#" for ports 1..4.
// Reading stops where the text ends or at a port line that is neither; entries not read keep
// their defaults.
StateFile parseStateFile(std::string_view text);
// The same from the file's values as a FieldReader gives them.
StateFile stateFromValues(const std::vector<std::string>& values);
constexpr std::size_t kStateFileValues = 2 + StateFile::kMarkedPorts;
std::string serializeStateFile(const StateFile& state);

} // namespace quarvel
