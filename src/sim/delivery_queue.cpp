#include "sim/delivery_queue.h"

#include <algorithm>

namespace quarvel::sim {

void DeliveryQueue::push(std::int64_t dueUs, std::vector<std::uint8_t> bytes)
{
    const auto at = std::upper_bound(m_chunks.begin(), m_chunks.end(), dueUs,
                                     [](std::int64_t due, const Chunk& chunk) { return due < chunk.dueUs; });
    m_chunks.insert(at, Chunk{dueUs, std::move(bytes)});
}

std::vector<std::uint8_t> DeliveryQueue::takeDue(std::int64_t nowUs)
{
    std::vector<std::uint8_t> bytes;
    while (!m_chunks.empty() && m_chunks.front().dueUs <= nowUs) {
        const auto& chunk = m_chunks.front().bytes;
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        m_chunks.pop_front();
    }
    return bytes;
}

std::optional<std::int64_t> DeliveryQueue::nextDueUs() const
{
    if (m_chunks.empty()) return std::nullopt;
    return m_chunks.front().dueUs;
}

std::optional<std::int64_t> DeliveryQueue::lastDueUs() const
{
    if (m_chunks.empty()) return std::nullopt;
    return m_chunks.back().dueUs;
}

} // namespace quarvel::sim
