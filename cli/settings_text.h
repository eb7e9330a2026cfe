#pragma once

#include "image/settings_report.h"

#include <string>
#include <string_view>

// Printing the image's named settings (image/settings_report.h) as text or JSON.
namespace quarvel::cli {

using quarvel::BankSettings;
using quarvel::ChannelSettings;
using quarvel::makeSettingsReport;
using quarvel::SettingsReport;

// Cell text made safe for a terminal and kept short: quoted, control and non-ASCII bytes as
// \xNN, cut after maxChars bytes (and then followed by ...).
std::string printableCellText(std::string_view cellText, std::size_t maxChars = 24);

std::string settingsText(const SettingsReport& report);
// One JSON object, ending with a line feed.
std::string settingsJson(const SettingsReport& report);

} // namespace quarvel::cli
