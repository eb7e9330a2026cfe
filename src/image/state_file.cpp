#include "image/state_file.h"

#include "image/field_reader.h"

namespace quarvel {

namespace {

constexpr std::string_view kTrue = "#TRUE#";
constexpr std::string_view kFalse = "#FALSE#";

std::string_view trimTrailingBlanks(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

int StateFile::startupPort() const
{
    int port = 1;
    for (int i = 0; i < kMarkedPorts; ++i)
        if (portMarked[static_cast<std::size_t>(i)]) port = i + 1;
    return port;
}

void StateFile::choosePort(int port)
{
    for (int i = 0; i < kMarkedPorts; ++i)
        portMarked[static_cast<std::size_t>(i)] = port == i + 1;
}

void StateFile::setMostRecent(std::string name)
{
    recentName2 = std::move(recentName1);
    recentName1 = std::move(name);
}

StateFile parseStateFile(std::string_view text)
{
    FieldReader reader(kStateFileValues);
    reader.feed(text);
    reader.finish();
    return stateFromValues(reader.fields());
}

StateFile stateFromValues(const std::vector<std::string>& lines)
{
    StateFile state;
    if (!lines.empty()) state.recentName1 = lines[0];
    if (lines.size() > 1) state.recentName2 = lines[1];
    for (std::size_t i = 2; i < lines.size() && i < kStateFileValues; ++i) {
        const std::string_view mark = trimTrailingBlanks(lines[i]);
        if (mark != kTrue && mark != kFalse) break;
        state.portMarked[i - 2] = mark == kTrue;
    }
    return state;
}

std::string serializeStateFile(const StateFile& state)
{
    std::string text = '"' + state.recentName1 + "\"\r\n\"" + state.recentName2 + "\"\r\n";
    for (bool marked : state.portMarked) {
        text += marked ? kTrue : kFalse;
        text += "\r\n";
    }
    return text;
}

} // namespace quarvel
