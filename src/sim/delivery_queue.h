#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace quarvel::sim {

// Bytes waiting for their time to reach the far end of a line. Chunks come out in order of
// their due time, and in the order they were pushed when due at the same time.
class DeliveryQueue
{
public:
    void push(std::int64_t dueUs, std::vector<std::uint8_t> bytes);
    // Everything due at or before nowUs, in order, concatenated.
    std::vector<std::uint8_t> takeDue(std::int64_t nowUs);
    std::optional<std::int64_t> nextDueUs() const;
    std::optional<std::int64_t> lastDueUs() const;
    bool empty() const { return m_chunks.empty(); }
    void clear() { m_chunks.clear(); }

private:
    struct Chunk
    {
        std::int64_t dueUs;
        std::vector<std::uint8_t> bytes;
    };
    std::deque<Chunk> m_chunks;
};

} // namespace quarvel::sim
