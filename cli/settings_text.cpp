#include "settings_text.h"

#include "json_text.h"

#include "text_columns.h"

#include "image/address_map.h"

#include <cstdio>

namespace quarvel::cli {

namespace {

using address::Bank;

constexpr std::array<Bank, 2> kBanks{Bank::A, Bank::B};

char bankLetter(Bank bank)
{
    return bank == Bank::A ? 'A' : 'B';
}

// The settings form labels its coin rows "Coin 1:" .. "Coin 9:", then "Coin10:" .. "Coin12:".
std::string coinLabel(int channel)
{
    return channel < 10 ? "Coin " + std::to_string(channel) + ":" : "Coin" + std::to_string(channel) + ":";
}

std::string labelled(const std::string& label, const std::string& value)
{
    return padRight(label, 20) + value + "\n";
}

std::string jsonMember(std::string_view name, const std::string& value)
{
    return jsonQuote(name) + ":" + value;
}

std::string jsonInt(int value)
{
    return std::to_string(value);
}

} // namespace

std::string printableCellText(std::string_view cellText, std::size_t maxChars)
{
    const bool cut = cellText.size() > maxChars;
    if (cut) cellText = cellText.substr(0, maxChars);
    std::string out = "\"";
    for (const char c : cellText) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += cut ? "\"..." : "\"";
    return out;
}

std::string settingsText(const SettingsReport& report)
{
    constexpr char kTimeUnit[] = " x 2 (mS)";
    // Labels come from the settings model, in its order: mode, inhibit level, the three times.
    const std::vector<SettingField> global = globalFields();
    const std::array<std::string, 5> globalValues{
        std::string(kOutputModeTexts[static_cast<std::size_t>(report.output.mode)]),
        std::string(kInhibitLevelTexts[static_cast<std::size_t>(report.output.inhibitLevel)]),
        std::to_string(report.signalTime) + kTimeUnit, std::to_string(report.timerScaleA) + kTimeUnit,
        std::to_string(report.timerScaleB) + kTimeUnit};
    std::string out;
    for (std::size_t i = 0; i < global.size() && i < globalValues.size(); ++i)
        out += labelled(fieldLabel(global[i]), globalValues[i]);

    for (std::size_t b = 0; b < kBanks.size(); ++b) {
        const Bank bank = kBanks[b];
        out += "\nBank " + std::string(1, bankLetter(bank)) + "\n";
        const std::vector<SettingField> factors = bankFields(bank); // price, multiply, divide
        const std::array<int, 3> factorValues{report.banks[b].price, report.banks[b].multiplyFactor,
                                              report.banks[b].divideFactor};
        for (std::size_t i = 0; i < factors.size() && i < factorValues.size(); ++i)
            out += labelled(fieldLabel(factors[i]), std::to_string(factorValues[i]));
        out += "         Value  Tol-A  Tol-B  Tol-C  Disable  Separator  Ref A  Ref X  Ref Y  Ref dH\n";
        for (int channel = address::firstChannel(bank); channel <= address::lastChannel(bank); ++channel) {
            const auto& row = report.channels[static_cast<std::size_t>(channel - 1)];
            out += padRight(coinLabel(channel), 8) + padLeft(std::to_string(row.value), 6) +
                   padLeft(std::to_string(row.toleranceA), 7) + padLeft(std::to_string(row.toleranceB), 7) +
                   padLeft(std::to_string(row.toleranceC), 7) + "  " +
                   padRight(std::string(kDisableTexts[static_cast<std::size_t>(row.disable)]), 7) +
                   padLeft(std::to_string(row.separator), 11) + padLeft(std::to_string(row.refA), 7) +
                   padLeft(std::to_string(row.refX), 7) + padLeft(std::to_string(row.refY), 7) +
                   padLeft(std::to_string(row.refDH), 8) + "\n";
        }
    }

    if (!report.flagged.empty()) {
        out += "\nCells that are not a number 0..255:\n";
        out += "Address  Field                   Text                        As byte\n";
        for (const auto& cell : report.flagged) {
            out += padLeft(std::to_string(cell.address), 7) + "  " +
                   padRight(address::fieldName(cell.address), 22) + "  " +
                   padRight(printableCellText(cell.text), 26) + "  " + std::to_string(cell.sent) + "\n";
        }
    }
    return out;
}

std::string settingsJson(const SettingsReport& report)
{
    const auto listEntry = [](int index, std::string_view text) {
        return "{" + jsonMember("index", jsonInt(index)) + "," + jsonMember("text", jsonQuote(text)) + "}";
    };
    std::string out = "{";
    out +=
        jsonMember("outputMode", listEntry(report.output.mode,
                                           kOutputModeTexts[static_cast<std::size_t>(report.output.mode)]));
    out +=
        "," + jsonMember("inhibitLevel",
                         listEntry(report.output.inhibitLevel,
                                   kInhibitLevelTexts[static_cast<std::size_t>(report.output.inhibitLevel)]));
    out += "," + jsonMember("signalTime", jsonInt(report.signalTime));
    out += "," + jsonMember("timerScaleA", jsonInt(report.timerScaleA));
    out += "," + jsonMember("timerScaleB", jsonInt(report.timerScaleB));

    out += "," + jsonQuote("banks") + ":[";
    for (std::size_t b = 0; b < kBanks.size(); ++b) {
        if (b > 0) out += ",";
        out += "{" + jsonMember("bank", jsonQuote(std::string(1, bankLetter(kBanks[b])))) + "," +
               jsonMember("price", jsonInt(report.banks[b].price)) + "," +
               jsonMember("multiplyFactor", jsonInt(report.banks[b].multiplyFactor)) + "," +
               jsonMember("divideFactor", jsonInt(report.banks[b].divideFactor)) + "}";
    }
    out += "]";

    out += "," + jsonQuote("coins") + ":[";
    for (const auto& row : report.channels) {
        if (row.channel > 1) out += ",";
        out += "{" + jsonMember("coin", jsonInt(row.channel)) + "," +
               jsonMember("bank", jsonQuote(std::string(1, bankLetter(address::bankOf(row.channel))))) + "," +
               jsonMember("value", jsonInt(row.value)) + "," +
               jsonMember("toleranceA", jsonInt(row.toleranceA)) + "," +
               jsonMember("toleranceB", jsonInt(row.toleranceB)) + "," +
               jsonMember("toleranceC", jsonInt(row.toleranceC)) + "," +
               jsonMember("disable", row.disable != 0 ? "true" : "false") + "," +
               jsonMember("separator", jsonInt(row.separator)) + "," + jsonMember("refA", jsonInt(row.refA)) +
               "," + jsonMember("refX", jsonInt(row.refX)) + "," + jsonMember("refY", jsonInt(row.refY)) +
               "," + jsonMember("refDH", jsonInt(row.refDH)) + "}";
    }
    out += "]";

    out += "," + jsonQuote("flagged") + ":[";
    for (std::size_t i = 0; i < report.flagged.size(); ++i) {
        const auto& cell = report.flagged[i];
        if (i > 0) out += ",";
        out += "{" + jsonMember("address", jsonInt(cell.address)) + "," +
               jsonMember("field", jsonQuote(address::fieldName(cell.address))) + "," +
               jsonMember("text", jsonQuote(cell.text)) + "," + jsonMember("asByte", jsonInt(cell.sent)) +
               "}";
    }
    out += "]}\n";
    return out;
}

} // namespace quarvel::cli
