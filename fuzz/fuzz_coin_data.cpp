// Coin data reader on arbitrary bytes: never more than 256 values, the same values however the
// text is split into pieces, decoded fields always inside their lists, and a saved image
// reads back as the same cells.
#include "fuzz_input.h"
#include "image/coin_data_file.h"
#include "image/field_codecs.h"
#include "image/field_reader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using quarvel::fuzz::check;

void checkCodecs(std::string_view cell)
{
    const quarvel::CoinControl coin = quarvel::decodeCoinControl(cell);
    check(coin.disable >= 0 && coin.disable <= 1);
    check(coin.separator >= 0 && coin.separator <= 3);
    check(coin.toleranceA >= 0 && coin.toleranceA <= 15);
    const quarvel::OutputControl output = quarvel::decodeOutputControl(cell);
    check(output.mode >= 0 && output.mode < quarvel::kOutputModeCount);
    check(output.inhibitLevel >= 0 && output.inhibitLevel <= 1);
    const quarvel::ToleranceBC tolerance = quarvel::decodeToleranceBC(cell);
    check(tolerance.toleranceB >= 0 && tolerance.toleranceB <= 15);
    check(tolerance.toleranceC >= 0 && tolerance.toleranceC <= 15);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto values = quarvel::parseCoinData(text);
    check(values.size() <= quarvel::kCoinDataValues);

    quarvel::FieldReader pieces(quarvel::kCoinDataValues);
    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    const std::size_t used = pieces.feed(text.substr(0, split));
    if (used == split) pieces.feed(text.substr(split));
    pieces.finish();
    check(pieces.fields() == values);

    checkCodecs(text);

    quarvel::ParameterImage image;
    quarvel::storeCoinData(values, image);
    bool quoteFree = true;
    for (const auto& value : values)
        quoteFree = quoteFree && value.find('"') == std::string_view::npos;
    if (quoteFree) {
        quarvel::ParameterImage again;
        check(quarvel::loadCoinData(quarvel::serializeCoinData(image), again) == quarvel::kCoinDataValues);
        check(again == image);
    }
    return 0;
}
