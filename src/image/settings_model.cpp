#include "image/settings_model.h"

#include "image/cell_byte.h"
#include "image/field_codecs.h"

#include <algorithm>
#include <array>

namespace quarvel {

namespace {

using address::Bank;

constexpr std::array<FieldKind, 14> kKinds{{
    {"outputMode", "Output Mode:", "", "OutputMode", FieldScope::Global, FieldCodec::OutputMode, 0,
     kOutputModeCount - 1, true},
    {"inhibitLevel", "Inhibit Level:", "", "outenble", FieldScope::Global, FieldCodec::InhibitLevel, 0, 1,
     true},
    {"signalTime", "Signal Time:", "", "SignalTime", FieldScope::Global, FieldCodec::Byte, 0, 255, true},
    {"timerScaleA", "Timer Scale A:", "", "TimerScale", FieldScope::Global, FieldCodec::Byte, 0, 255, true},
    // The form's controls for timer scale B carry the name of the hold time; the row is hidden.
    {"timerScaleB", "Timer Scale B:", "", "HoldTime", FieldScope::Global, FieldCodec::Byte, 0, 255, false},
    {"price", "Price", "", "Price", FieldScope::Bank, FieldCodec::Byte, 0, 255, true},
    {"multiplyFactor", "Multiply Factor", "", "MultiplyFactor", FieldScope::Bank, FieldCodec::Byte, 0, 255,
     true},
    {"divideFactor", "Divide Factor", "", "DivideFactor", FieldScope::Bank, FieldCodec::Byte, 0, 255, true},
    {"value", "Value", "(0-255)", "Dollar", FieldScope::Channel, FieldCodec::Byte, 0, 255, true},
    {"toleranceA", "Tol-A", "(0-15)", "ToleranceA", FieldScope::Channel, FieldCodec::ToleranceA, 0, 15, true},
    {"toleranceB", "Tol-B", "(0-15)", "ToleranceB", FieldScope::Channel, FieldCodec::ToleranceB, 0, 15, true},
    {"toleranceC", "Tol-C", "(0-15)", "ToleranceC", FieldScope::Channel, FieldCodec::ToleranceC, 0, 15, true},
    {"disable", "Disable", "(Yes/No)", "Inhibit", FieldScope::Channel, FieldCodec::Disable, 0, 1, true},
    {"separator", "Separator", "(0-3)", "Hopper", FieldScope::Channel, FieldCodec::Separator, 0, 3, true},
}};

char bankLetter(Bank bank)
{
    return bank == Bank::A ? 'A' : 'B';
}

int globalCell(const FieldKind& kind)
{
    switch (kind.codec) {
    case FieldCodec::OutputMode:
    case FieldCodec::InhibitLevel:
        return address::kOutputControl;
    default:
        break;
    }
    if (kind.key == "signalTime") return address::kSignalTime;
    if (kind.key == "timerScaleA") return address::kTimerScaleA;
    return address::kTimerScaleB;
}

int bankCell(const FieldKind& kind, Bank bank)
{
    if (kind.key == "price") return address::price(bank);
    if (kind.key == "multiplyFactor") return address::multiplyFactor(bank);
    return address::divideFactor(bank);
}

int channelCell(const FieldKind& kind, int channel)
{
    switch (kind.codec) {
    case FieldCodec::Byte:
        return address::coinValue(channel);
    case FieldCodec::ToleranceB:
    case FieldCodec::ToleranceC:
        return address::toleranceBC(channel);
    default:
        return address::coinControl(channel);
    }
}

std::vector<SettingField> fieldsOf(FieldScope scope, int channel, Bank bank)
{
    std::vector<SettingField> fields;
    for (const FieldKind& kind : kKinds) {
        if (kind.scope != scope) continue;
        SettingField field{&kind, 0, bank, address::kInvalid};
        if (scope == FieldScope::Global) field.cell = globalCell(kind);
        if (scope == FieldScope::Bank) field.cell = bankCell(kind, bank);
        if (scope == FieldScope::Channel) {
            field.channel = channel;
            field.bank = address::bankOf(channel);
            field.cell = channelCell(kind, channel);
        }
        fields.push_back(field);
    }
    return fields;
}

// The byte programming sends, as the text the codecs decode.
std::string sentText(const ParameterImage& image, int cell)
{
    return std::to_string(cellByte(image.text(cell)));
}

} // namespace

std::span<const FieldKind> fieldKinds()
{
    return kKinds;
}

std::vector<SettingField> globalFields()
{
    return fieldsOf(FieldScope::Global, 0, Bank::A);
}

std::vector<SettingField> bankFields(Bank bank)
{
    return fieldsOf(FieldScope::Bank, 0, bank);
}

std::vector<SettingField> channelFields(int channel)
{
    if (!address::isValidChannel(channel)) return {};
    return fieldsOf(FieldScope::Channel, channel, Bank::A);
}

std::vector<SettingField> allFields()
{
    std::vector<SettingField> fields = globalFields();
    for (const Bank bank : {Bank::A, Bank::B}) {
        const auto more = bankFields(bank);
        fields.insert(fields.end(), more.begin(), more.end());
    }
    for (int channel = 1; channel <= address::kChannelCount; ++channel) {
        const auto more = channelFields(channel);
        fields.insert(fields.end(), more.begin(), more.end());
    }
    return fields;
}

std::vector<SettingField> fieldsAt(int cell)
{
    std::vector<SettingField> fields;
    for (const SettingField& field : allFields())
        if (field.cell == cell) fields.push_back(field);
    return fields;
}

std::string controlName(const SettingField& field, std::string_view kindPrefix)
{
    std::string name = std::string(kindPrefix) + std::string(field.kind->controlStem);
    if (field.kind->scope == FieldScope::Bank) name += bankLetter(field.bank);
    if (field.kind->scope == FieldScope::Channel) name += std::to_string(field.channel);
    return name;
}

std::string fieldLabel(const SettingField& field)
{
    const std::string heading(field.kind->heading);
    switch (field.kind->scope) {
    case FieldScope::Bank:
        return heading + ' ' + bankLetter(field.bank) + ':';
    case FieldScope::Channel:
        return "Coin " + std::to_string(field.channel) + ' ' + heading;
    case FieldScope::Global:
        break;
    }
    return heading;
}

std::vector<std::string> fieldEntries(const FieldKind& kind)
{
    std::vector<std::string> entries;
    switch (kind.codec) {
    case FieldCodec::Byte:
        return entries;
    case FieldCodec::OutputMode:
        return {kOutputModeTexts.begin(), kOutputModeTexts.end()};
    case FieldCodec::InhibitLevel:
        return {kInhibitLevelTexts.begin(), kInhibitLevelTexts.end()};
    case FieldCodec::Disable:
        return {kDisableTexts.begin(), kDisableTexts.end()};
    default:
        break;
    }
    for (int value = kind.low; value <= kind.high; ++value)
        entries.push_back(std::to_string(value));
    return entries;
}

int fieldValue(const ParameterImage& image, const SettingField& field)
{
    if (field.kind == nullptr) return 0;
    const std::string sent = sentText(image, field.cell);
    int value = 0;
    switch (field.kind->codec) {
    case FieldCodec::Byte:
        value = cellByte(image.text(field.cell));
        break;
    case FieldCodec::Disable:
        value = decodeCoinControl(sent).disable;
        break;
    case FieldCodec::Separator:
        value = decodeCoinControl(sent).separator;
        break;
    case FieldCodec::ToleranceA:
        value = decodeCoinControl(sent).toleranceA;
        break;
    case FieldCodec::ToleranceB:
        value = decodeToleranceBC(sent).toleranceB;
        break;
    case FieldCodec::ToleranceC:
        value = decodeToleranceBC(sent).toleranceC;
        break;
    case FieldCodec::OutputMode:
        value = decodeOutputControl(sent).mode;
        break;
    case FieldCodec::InhibitLevel:
        value = decodeOutputControl(sent).inhibitLevel;
        break;
    }
    return std::clamp(value, field.kind->low, field.kind->high);
}

std::string fieldText(const ParameterImage& image, const SettingField& field)
{
    const int value = fieldValue(image, field);
    if (field.kind == nullptr || !field.isList()) return std::to_string(value);
    return fieldEntries(*field.kind)[static_cast<std::size_t>(value)];
}

void setFieldValue(ParameterImage& image, const SettingField& field, int value)
{
    if (field.kind == nullptr) return;
    value = std::clamp(value, field.kind->low, field.kind->high);
    const std::string sent = sentText(image, field.cell);
    switch (field.kind->codec) {
    case FieldCodec::Byte:
        image.setNumber(field.cell, value);
        return;
    case FieldCodec::Disable:
    case FieldCodec::Separator:
    case FieldCodec::ToleranceA: {
        CoinControl c = decodeCoinControl(sent);
        if (field.kind->codec == FieldCodec::Disable) c.disable = value;
        if (field.kind->codec == FieldCodec::Separator) c.separator = value;
        if (field.kind->codec == FieldCodec::ToleranceA) c.toleranceA = value;
        image.setText(field.cell, encodeCoinControl(c, sent));
        return;
    }
    case FieldCodec::ToleranceB:
    case FieldCodec::ToleranceC: {
        ToleranceBC bc = decodeToleranceBC(sent);
        (field.kind->codec == FieldCodec::ToleranceB ? bc.toleranceB : bc.toleranceC) = value;
        image.setText(field.cell, encodeToleranceBC(bc));
        return;
    }
    case FieldCodec::OutputMode:
    case FieldCodec::InhibitLevel: {
        OutputControl o = decodeOutputControl(sent);
        (field.kind->codec == FieldCodec::OutputMode ? o.mode : o.inhibitLevel) = value;
        image.setText(field.cell, encodeOutputControl(o));
        return;
    }
    }
}

void setFieldText(ParameterImage& image, const SettingField& field, std::string text)
{
    if (field.kind == nullptr || field.isList()) return;
    image.setText(field.cell, std::move(text));
}

bool isProgrammable(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i == text.size()) return text.empty(); // blanks alone are not an empty cell
    const std::size_t digitsStart = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    if (i == digitsStart) return false;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fractionStart = ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        if (i == fractionStart) return false;
    }
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i != text.size()) return false;
    // The leading-number reading is exact enough here: the digits are all there is.
    const long long rounded = roundHalfEven(leadingNumber(text));
    return rounded >= 0 && rounded <= 255;
}

std::vector<UnprogrammableCell> unprogrammableCells(const ParameterImage& image)
{
    std::vector<UnprogrammableCell> cells;
    for (const auto& range : address::kProgrammingRanges)
        for (int cell = range.first; cell <= range.last; ++cell) {
            const std::string& text = image.text(cell);
            if (!isProgrammable(text)) cells.push_back({cell, text, cellByte(text)});
        }
    return cells;
}

} // namespace quarvel
