#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

// Splits the text of a coin data or state file into values, fed piece by piece so that a
// reader can stop as soon as it has what it needs. Values are separated by commas or line
// ends (CR LF, LF or a lone CR); blanks before a value are skipped; a value in double quotes
// is taken without them (anything after the closing quote up to the separator is ignored, and
// a line end closes an unterminated quote); an unquoted value runs to the next comma or line
// end. Empty values count: an empty line is one.
class FieldReader
{
public:
    explicit FieldReader(std::size_t maxFields) : m_maxFields(maxFields) {}

    // Reads from text until maxFields values are complete; returns how many bytes it used.
    std::size_t feed(std::string_view text);
    // End of the text: a value in progress (text after the last line end, or after a
    // trailing comma) is complete.
    void finish();

    bool full() const { return m_fields.size() >= m_maxFields; }
    const std::vector<std::string>& fields() const { return m_fields; }
    std::vector<std::string> takeFields() { return std::move(m_fields); }

private:
    enum class State
    {
        BeforeValue,
        Unquoted,
        Quoted,
        AfterQuote
    };

    void endValue(bool anotherFollows);

    std::size_t m_maxFields;
    std::vector<std::string> m_fields;
    std::string m_current;
    State m_state = State::BeforeValue;
    bool m_valueOpen = false; // something since the last line end makes a value at the end
    bool m_afterCr = false;   // a LF right after a CR belongs to the same line end
};

} // namespace quarvel
