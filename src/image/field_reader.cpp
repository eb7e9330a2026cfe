#include "image/field_reader.h"

namespace quarvel {

void FieldReader::endValue(bool anotherFollows)
{
    if (!full()) m_fields.push_back(std::move(m_current));
    m_current.clear();
    m_state = State::BeforeValue;
    m_valueOpen = anotherFollows;
}

std::size_t FieldReader::feed(std::string_view text)
{
    std::size_t used = 0;
    while (used < text.size() && !full()) {
        const char c = text[used++];
        if (m_afterCr) {
            m_afterCr = false;
            if (c == '\n') continue;
        }
        if (c == '\r' || c == '\n') {
            m_afterCr = c == '\r';
            endValue(false);
            continue;
        }
        switch (m_state) {
        case State::BeforeValue:
            m_valueOpen = true;
            if (c == ',')
                endValue(true);
            else if (c == '"')
                m_state = State::Quoted;
            else if (c != ' ' && c != '\t') {
                m_current.push_back(c);
                m_state = State::Unquoted;
            }
            break;
        case State::Unquoted:
            if (c == ',')
                endValue(true);
            else
                m_current.push_back(c);
            break;
        case State::Quoted:
            if (c == '"')
                m_state = State::AfterQuote;
            else
                m_current.push_back(c);
            break;
        case State::AfterQuote:
            if (c == ',') endValue(true);
            break;
        }
    }
    return used;
}

void FieldReader::finish()
{
    if (m_valueOpen || m_state != State::BeforeValue) endValue(false);
}

} // namespace quarvel
