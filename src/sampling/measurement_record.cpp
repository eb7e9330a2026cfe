#include "sampling/measurement_record.h"

namespace quarvel::sampling {

namespace {

std::uint8_t sum(std::span<const std::uint8_t, kRecordSize> r, int from)
{
    return static_cast<std::uint8_t>((r[from] + r[from + 1] + r[from + 2] + r[from + 3]) & 0xFF);
}

// The warning shown for a coin of irregular speed: every byte in decimal, run together.
std::string speedText(std::span<const std::uint8_t, kRecordSize> r)
{
    auto n = [&](int i) { return std::to_string(r[i]); };
    return "speed strange : A=" + n(1) + "B=" + n(2) + "C=" + n(3) + "X=" + n(6) + "Y=" + n(7) + "dH=" + n(8);
}

} // namespace

DecodedRecord decodeRecord(std::span<const std::uint8_t, kRecordSize> record)
{
    DecodedRecord decoded;
    if (record[0] == kIrregularSpeed) decoded.speedText = speedText(record);
    if (record[4] != sum(record, 0) || record[9] != sum(record, 5)) {
        decoded.check = RecordCheck::BadChecksum;
        return decoded;
    }
    // A is kept as a signed 16-bit quantity further on; a high byte of 128 or more would turn
    // negative there, so such a record is not a believable measurement.
    if (record[1] >= 128) {
        decoded.check = RecordCheck::AOutOfRange;
        return decoded;
    }
    decoded.check = RecordCheck::Accepted;
    decoded.sample =
        Sample{record[1] * 256 + record[2], record[6], record[7], record[8], record[0] == kIrregularSpeed};
    return decoded;
}

} // namespace quarvel::sampling
