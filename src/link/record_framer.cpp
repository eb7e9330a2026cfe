#include "link/record_framer.h"

#include "link/frame.h"

namespace quarvel::link {

namespace {
constexpr auto kRecord = static_cast<std::size_t>(sampling::kRecordSize);
constexpr auto kAnswer = static_cast<std::size_t>(kFrameSize);
} // namespace

std::vector<RecordFramer::Event> RecordFramer::arrived(std::span<const std::uint8_t> bytes,
                                                       std::int64_t nowMs)
{
    std::vector<Event> out;
    if (bytes.empty()) return out;
    if (m_lastMs && nowMs - *m_lastMs >= kLineQuietMs) settle(true, out);
    m_lastMs = nowMs;
    m_burst.insert(m_burst.end(), bytes.begin(), bytes.end());
    settle(false, out);
    return out;
}

std::vector<RecordFramer::Event> RecordFramer::silence()
{
    std::vector<Event> out;
    settle(true, out);
    return out;
}

std::optional<std::int64_t> RecordFramer::decisionDueMs() const
{
    if (m_leadKnown || !m_lastMs || !leadIsAnswer()) return std::nullopt;
    return *m_lastMs + kLineQuietMs;
}

void RecordFramer::reset()
{
    m_burst.clear();
    m_at = 0;
    m_leadKnown = false;
    m_lastMs.reset();
}

bool RecordFramer::leadIsAnswer() const
{
    return m_burst.size() >= kAnswer && m_burst[0] == command::kStartSampling && hasValidChecksum(m_burst);
}

void RecordFramer::settle(bool burstOver, std::vector<Event>& out)
{
    const auto emit = [&](Event::Kind kind, std::size_t n, sampling::DecodedRecord decoded = {}) {
        const auto from = m_burst.begin() + static_cast<std::ptrdiff_t>(m_at);
        out.push_back(Event{kind, {from, from + static_cast<std::ptrdiff_t>(n)}, std::move(decoded)});
        m_at += n;
    };
    if (!m_leadKnown && m_burst.size() >= kAnswer) {
        if (!leadIsAnswer()) {
            m_leadKnown = true;
        } else if (burstOver) {
            m_leadKnown = true;
            if (m_burst.size() % kRecord != 0) emit(Event::Kind::LateAnswer, kAnswer);
        }
        // Otherwise an answer or a record of the start command's type: the burst's length tells.
    }
    if (m_leadKnown) {
        while (m_burst.size() - m_at >= kRecord) {
            auto decoded = sampling::decodeRecord(
                std::span<const std::uint8_t>(m_burst).subspan(m_at).first<sampling::kRecordSize>());
            const bool good = decoded.check != sampling::RecordCheck::BadChecksum;
            emit(good ? Event::Kind::Record : Event::Kind::Corrupt, kRecord, std::move(decoded));
        }
    }
    if (!burstOver) return;
    const std::size_t rest = m_burst.size() - m_at;
    if (rest > 0) {
        const bool answer = rest == kAnswer && m_burst[m_at] == command::kStartSampling &&
                            hasValidChecksum(std::span<const std::uint8_t>(m_burst).subspan(m_at));
        emit(answer ? Event::Kind::LateAnswer : Event::Kind::Noise, rest);
    }
    m_burst.clear();
    m_at = 0;
    m_leadKnown = false;
}

} // namespace quarvel::link
