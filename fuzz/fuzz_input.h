#pragma once

// What the event-driven fuzz targets share: reading the fuzz input as a stream of small
// decisions, and stopping at once when a checked property fails.
#include <cstddef>
#include <cstdint>

namespace quarvel::fuzz {

inline void check(bool condition)
{
    if (!condition) __builtin_trap();
}

class Input
{
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_size == 0; }
    std::uint8_t byte()
    {
        if (m_size == 0) return 0;
        --m_size;
        return *m_data++;
    }
    // Reads are sequenced one per statement: the order of operands within one expression is
    // unspecified, and an input must mean the same thing to every compiler.
    int u16()
    {
        const int low = byte();
        return low | (byte() << 8);
    }
    // A step of the clock: mostly short, sometimes long.
    int millis()
    {
        const int amount = byte();
        return byte() % 4 == 0 ? amount * 100 : amount;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

} // namespace quarvel::fuzz
