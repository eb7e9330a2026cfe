#include "image_diff.h"

#include "settings_text.h"
#include "text_columns.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "image/settings_model.h"

namespace quarvel::cli {

namespace {

// "Tol-A 10" for a field with numbered entries or "Disable Yes"; the output lists' own entries
// say what they are.
std::string fieldMeaning(const ParameterImage& image, const SettingField& field)
{
    std::string text = fieldText(image, field);
    if (field.kind->codec == FieldCodec::OutputMode || field.kind->codec == FieldCodec::InhibitLevel)
        return text;
    return std::string(field.kind->heading) + " " + text;
}

// A text and, when it says more than the text itself, its meaning.
std::string side(const std::string& text, const std::string& meaning)
{
    std::string out = printableCellText(text);
    if (!meaning.empty() && meaning != text) out += " (" + meaning + ")";
    return out;
}

} // namespace

std::string cellMeaning(const ParameterImage& image, int cell)
{
    if (cell < 0 || cell >= ParameterImage::kSelectorCells) return {};
    if (cell < address::kOutputControl) {
        const int channel = cell / address::kCoinBlockSize + 1;
        if (cell == address::refALow(channel) || cell == address::refAHigh(channel)) {
            const int refA = cellByte(image.text(address::refALow(channel))) +
                             256 * cellByte(image.text(address::refAHigh(channel)));
            return "Ref A " + std::to_string(refA);
        }
    }
    const std::vector<SettingField> fields = fieldsAt(cell);
    if (fields.empty() || !fields.front().isList()) return std::to_string(cellByte(image.text(cell)));
    std::string meaning;
    for (const SettingField& field : fields)
        meaning += (meaning.empty() ? "" : ", ") + fieldMeaning(image, field);
    return meaning;
}

std::vector<CellDifference> diffImages(const ParameterImage& a, const ParameterImage& b)
{
    std::vector<CellDifference> differences;
    for (int cell = 0; cell < ParameterImage::kFileCells; ++cell) {
        if (a.text(cell) == b.text(cell)) continue;
        differences.push_back({cell, address::fieldName(cell), a.text(cell), b.text(cell),
                               cellMeaning(a, cell), cellMeaning(b, cell)});
    }
    return differences;
}

std::string differencesText(const std::vector<CellDifference>& differences)
{
    std::string out;
    for (const auto& d : differences) {
        std::string address = std::to_string(d.address);
        std::string field = d.field;
        if (address.size() < 3) address.insert(0, 3 - address.size(), ' ');
        if (field.size() < 22) field.append(22 - field.size(), ' ');
        out.append(address).append("  ").append(field).append("  ");
        out.append(side(d.textA, d.meaningA)).append(" -> ").append(side(d.textB, d.meaningB)).append("\n");
    }
    return out;
}

} // namespace quarvel::cli
