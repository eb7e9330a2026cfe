#include "image_diff.h"

#include "settings_report.h"
#include "text_columns.h"

#include "image/address_map.h"
#include "image/field_codecs.h"

namespace quarvel::cli {

namespace {

std::string coinControlMeaning(const std::string& text)
{
    const CoinControl c = decodeCoinControl(text);
    return "Disable " + std::string(kDisableTexts[static_cast<std::size_t>(c.disable)]) + ", Separator " +
           std::to_string(c.separator) + ", Tol-A " + std::to_string(c.toleranceA);
}

std::string outputControlMeaning(const std::string& text)
{
    const OutputControl o = decodeOutputControl(text);
    return std::string(kOutputModeTexts[static_cast<std::size_t>(o.mode)]) + ", " +
           std::string(kInhibitLevelTexts[static_cast<std::size_t>(o.inhibitLevel)]);
}

std::string toleranceBCMeaning(const std::string& text)
{
    const ToleranceBC bc = decodeToleranceBC(text);
    return "Tol-B " + std::to_string(bc.toleranceB) + ", Tol-C " + std::to_string(bc.toleranceC);
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
    const std::string& text = image.text(cell);
    if (cell < address::kOutputControl) {
        const int channel = cell / address::kCoinBlockSize + 1;
        if (cell == address::coinControl(channel)) return coinControlMeaning(text);
        if (cell == address::refALow(channel) || cell == address::refAHigh(channel)) {
            const int refA = displayByte(image.text(address::refALow(channel))) +
                             256 * displayByte(image.text(address::refAHigh(channel)));
            return "Ref A " + std::to_string(refA);
        }
    }
    if (cell == address::kOutputControl) return outputControlMeaning(text);
    if (cell >= address::toleranceBC(1) && cell <= address::toleranceBC(address::kChannelCount))
        return toleranceBCMeaning(text);
    return std::to_string(displayByte(text));
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
        out += address + "  " + field + "  " + side(d.textA, d.meaningA) + " -> " +
               side(d.textB, d.meaningB) + "\n";
    }
    return out;
}

} // namespace quarvel::cli
