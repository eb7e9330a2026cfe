#pragma once

#include "image/address_map.h"
#include "image/parameter_image.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The one settings model: which named settings the image holds, where each lives and how it is
// coded. The settings form builds its rows from it, quarvelctl's show, JSON and diff print from
// it, and every display of a cell goes through cellByte(), so what is shown is what programming
// sends.
//
// Usage, e.g. for the settings form:
//   for (int channel = 1; channel <= 12; ++channel)
//       for (const SettingField& f : channelFields(channel)) {
//           // f.kind.heading ("Tol-A"), f.kind.hint ("(0-15)"), controlName(f, "Combo") ->
//           // "ComboToleranceA3"; fieldEntries(f.kind) fills a list, fieldValue() selects it,
//           // fieldText() fills a text box (12.6 shows 13, as the scroll bar would).
//       }
//   on OK: setFieldValue(image, f, list index) for lists, setFieldText(image, f, box text) for
//   text boxes (copied unchanged, as typed). No caller does cell arithmetic of its own.
namespace quarvel {

enum class FieldCodec
{
    Byte,         // the cell as one byte 0..255, shown in a text box with a scroll bar
    Disable,      // CoinControl bit 7
    Separator,    // CoinControl bits 5..4
    ToleranceA,   // CoinControl bits 3..0
    ToleranceB,   // ToleranceBC bits 3..0
    ToleranceC,   // ToleranceBC bits 7..4
    OutputMode,   // OutputControl bits 3..0 (12..15 read as 0)
    InhibitLevel, // OutputControl bit 7
};

enum class FieldScope
{
    Global,  // one field of the image
    Channel, // one per coin channel 1..12
    Bank,    // one per bank A, B
};

// One row of the table: a kind of setting, independent of channel or bank.
struct FieldKind
{
    std::string_view key;     // JSON member and stable name: "toleranceA", "price", "signalTime"
    std::string_view heading; // the form's caption: "Tol-A", "Price A:" (bank letter added), "Signal Time:"
    std::string_view hint;    // range hint under a column heading: "(0-15)", "" for none
    std::string_view controlStem; // control name without kind prefix and number: "ToleranceA", "Dollar"
    FieldScope scope = FieldScope::Global;
    FieldCodec codec = FieldCodec::Byte;
    int low = 0; // range of the value
    int high = 255;
    bool visibleOnForm = true; // the bank B factor rows and timer scale B are loaded and saved, not shown
};

// A field of the image: a kind bound to its channel or bank and its cell.
struct SettingField
{
    const FieldKind* kind = nullptr;
    int channel = 0; // 1..12 for channel fields, else 0
    address::Bank bank = address::Bank::A;
    int cell = address::kInvalid;

    bool isList() const { return kind->codec != FieldCodec::Byte; }
    bool operator==(const SettingField& other) const
    {
        return kind == other.kind && channel == other.channel && bank == other.bank && cell == other.cell;
    }
};

// The table, in the form's order. Global: output mode, inhibit level, signal time, timer
// scale A, timer scale B (controls "…HoldTime"). Bank: price, multiply factor, divide factor.
// Channel (columns of a coin row): value, Tol-A, Tol-B, Tol-C, disable, separator.
std::span<const FieldKind> fieldKinds();

std::vector<SettingField> globalFields();
std::vector<SettingField> bankFields(address::Bank bank);
std::vector<SettingField> channelFields(int channel); // empty for a channel outside 1..12
// Every field: global, then bank A, bank B, then channels 1..12.
std::vector<SettingField> allFields();
// The fields that live in a cell (three for a CoinControl), in table order; empty for cells no
// setting uses.
std::vector<SettingField> fieldsAt(int cell);

// Control name as the form names it: controlName(f, "Combo") -> "ComboToleranceA3",
// controlName(price A, "HScroll") -> "HScrollPriceA", controlName(output mode, "Combo") ->
// "ComboOutputMode".
std::string controlName(const SettingField& field, std::string_view kindPrefix);
// "Price A:", "Coin 3 Tol-A" and the like, for messages and differences.
std::string fieldLabel(const SettingField& field);

// List entries of a list field, index = value ("0".."15", "No"/"Yes", the output modes);
// empty for byte fields.
std::vector<std::string> fieldEntries(const FieldKind& kind);

// The value a field shows, always within its range: byte fields are cellByte() of the cell,
// list fields are decoded from that same byte, so show, diff and the form display exactly what
// programming would send.
int fieldValue(const ParameterImage& image, const SettingField& field);
// Text of a byte field's text box: its value in decimal ("12.6" shows 13, "" shows 0). For list
// fields the entry text.
std::string fieldText(const ParameterImage& image, const SettingField& field);

// Writes a value into the field's cell, clamped into range. List fields re-encode their cell
// from its current fields and the new one (CoinControl keeps bit 6 of the previous value;
// OutputControl bits 6..4 are cleared); byte fields store the decimal text.
void setFieldValue(ParameterImage& image, const SettingField& field, int value);
// Byte fields: stores the text unchanged, as the form copies a typed text box. List fields:
// ignored (they have no text of their own).
void setFieldText(ParameterImage& image, const SettingField& field, std::string text);

// Cell checks. A cell is programmable when programming sends what it says: empty (sent as 0),
// or a plain decimal number with an optional fraction ("12", "007", "12.5") whose value
// rounded half to even lies in 0..255. Blanks around the number are allowed (they change
// nothing that is sent). Signs, exponents, trailing text ("12ab"), "-1" and "300" are not.
bool isProgrammable(std::string_view text);

struct UnprogrammableCell
{
    int address = 0;
    std::string text;
    std::uint8_t sent = 0; // what programming would send: cellByte(text)
    bool operator==(const UnprogrammableCell&) const = default;
};

// The cells of the three programming ranges (0-84, 86-123, 128-188) that are not
// programmable, in address order.
std::vector<UnprogrammableCell> unprogrammableCells(const ParameterImage& image);

} // namespace quarvel
