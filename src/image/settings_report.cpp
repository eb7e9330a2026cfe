#include "image/settings_report.h"

#include "image/address_map.h"
#include "image/cell_byte.h"

namespace quarvel {

namespace {

using address::Bank;

int value(const ParameterImage& image, const std::vector<SettingField>& fields, std::string_view key)
{
    for (const SettingField& field : fields)
        if (field.kind->key == key) return fieldValue(image, field);
    return 0;
}

int byteAt(const ParameterImage& image, int cell)
{
    return cellByte(image.text(cell));
}

} // namespace

SettingsReport makeSettingsReport(const ParameterImage& image)
{
    SettingsReport report;
    const auto global = globalFields();
    report.output = {value(image, global, "outputMode"), value(image, global, "inhibitLevel")};
    report.signalTime = value(image, global, "signalTime");
    report.timerScaleA = value(image, global, "timerScaleA");
    report.timerScaleB = value(image, global, "timerScaleB");
    for (const Bank bank : {Bank::A, Bank::B}) {
        const auto fields = bankFields(bank);
        report.banks[bank == Bank::A ? 0 : 1] = {value(image, fields, "price"),
                                                 value(image, fields, "multiplyFactor"),
                                                 value(image, fields, "divideFactor")};
    }
    for (int channel = 1; channel <= address::kChannelCount; ++channel) {
        const auto fields = channelFields(channel);
        auto& row = report.channels[static_cast<std::size_t>(channel - 1)];
        row.channel = channel;
        row.value = value(image, fields, "value");
        row.toleranceA = value(image, fields, "toleranceA");
        row.toleranceB = value(image, fields, "toleranceB");
        row.toleranceC = value(image, fields, "toleranceC");
        row.disable = value(image, fields, "disable");
        row.separator = value(image, fields, "separator");
        row.refA = byteAt(image, address::refALow(channel)) + 256 * byteAt(image, address::refAHigh(channel));
        row.refX = byteAt(image, address::refX(channel));
        row.refY = byteAt(image, address::refY(channel));
        row.refDH = byteAt(image, address::refDH(channel));
    }
    report.flagged = unprogrammableCells(image);
    return report;
}

} // namespace quarvel
