// The selector model on arbitrary host bytes, in any chunking and timing, under a fault plan
// parsed from the first line of the input and grown by further faults on the way. Checked after every call:
// each byte fed is either part of a logged frame, counted as bad, or still waiting (at most four); memory
// changes only where a logged write frame put that value; emissions are non-empty, come only with replies,
// never grow beyond what the plan's noise allows, and are delayed only as the plan says. Without faults the
// answers are exactly those of a correct selector. A vanished selector stays silent.
#include "fuzz_input.h"
#include "link/frame.h"
#include "sim/coin_types.h"
#include "sim/fault_plan.h"
#include "sim/virtual_selector.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace {

namespace link = quarvel::link;
namespace sim = quarvel::sim;

using quarvel::fuzz::check;
using quarvel::fuzz::Input;

int frameCount(const sim::FrameCounts& c)
{
    return c.reads + c.writes + c.endOfProgramming + c.samplingStarts + c.samplingEnds + c.fixed + c.other;
}

class Harness
{
public:
    Harness(Input& in, const sim::FaultPlan& plan) : m_in(in), m_selector(in.byte()) { setPlan(plan); }

    void step()
    {
        switch (m_in.byte() % 12) {
        case 0:
        case 1:
        case 2: {
            std::vector<std::uint8_t> bytes(m_in.byte() % 24);
            for (auto& b : bytes)
                b = m_in.byte();
            receive(bytes);
            break;
        }
        case 3:
        case 4:
        case 5:
            request();
            break;
        case 6:
            m_now += m_in.millis();
            break;
        case 7:
            m_selector.setReplyDelayMs(m_in.u16() % 5000);
            break;
        case 8:
            m_selector.setFrameGapMs(m_in.byte());
            break;
        case 9:
            insertCoin();
            break;
        case 10:
            addFault();
            break;
        default:
            if (m_in.byte() == 0) {
                m_selector.disappear();
            } else {
                std::vector<std::uint8_t> bytes(m_in.byte());
                for (auto& b : bytes)
                    b = m_in.byte();
                m_selector.loadMemory(bytes);
                const std::size_t loaded =
                    std::min<std::size_t>(bytes.size(), sim::VirtualSelector::kCellCount);
                check(std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(loaded),
                                 m_selector.memory().begin()));
            }
            break;
        }
    }

    void finish() const { check(m_selector.summary().starts_with("frames ")); }

private:
    void setPlan(const sim::FaultPlan& plan)
    {
        // Replies count again from here, and held-back bytes are forgotten.
        m_selector.setFaultPlan(plan);
        check(m_selector.faultPlan() == plan);
        m_repliesBase = m_selector.counts().replies;
        m_emittedBytes = 0;
        // Upper bounds of what the plan can add to one reply.
        m_maxLate = 0;
        m_maxNoise = 0;
        for (const auto& fault : plan.faults()) {
            if (fault.kind == sim::FaultKind::Late) m_maxLate += fault.amount;
            if (fault.kind == sim::FaultKind::Garbage || fault.kind == sim::FaultKind::Extra)
                m_maxNoise += fault.amount;
        }
        if (plan.randomRate() > 0.0) {
            m_maxLate += 500;
            m_maxNoise += 8;
        }
        m_faultFree = plan.isEmpty();
    }

    // One more fault within the limits the text form allows, at one of the next few replies,
    // or a new random rate or seed.
    void addFault()
    {
        sim::FaultPlan plan = m_selector.faultPlan();
        const int choice = m_in.byte() % 13;
        if (choice == 12) {
            plan.add(fault(sim::FaultKind::Lost));
        } else if (choice == 10) {
            plan.setRandomRate(m_in.byte() / 255.0);
        } else if (choice == 11) {
            plan.setSeed(static_cast<std::uint32_t>(m_in.u16()));
        } else {
            plan.add(fault(static_cast<sim::FaultKind>(choice)));
        }
        setPlan(plan);
    }

    sim::Fault fault(sim::FaultKind kind)
    {
        sim::Fault fault;
        fault.kind = kind;
        fault.reply = 1 + m_in.byte() % 16;
        const int amount = m_in.u16();
        switch (fault.kind) {
        case sim::FaultKind::Late:
            fault.amount = amount % (FaultPlan::kMaxLateMs + 1);
            break;
        case sim::FaultKind::Split:
            fault.amount = 2 + amount % (FaultPlan::kMaxSplitParts - 1);
            break;
        case sim::FaultKind::Garbage:
        case sim::FaultKind::Extra:
            fault.amount = 1 + amount % FaultPlan::kMaxNoiseBytes;
            break;
        default:
            break;
        }
        return fault;
    }

    // A frame the selector knows (or one with only its checksum right), whole or in two parts.
    void request()
    {
        link::Frame frame{};
        switch (m_in.byte() % 8) {
        case 0:
        case 1:
            frame = link::readRequest(m_in.byte() % 200);
            break;
        case 2:
        case 3: {
            const auto address = static_cast<std::uint8_t>(m_in.byte() % 200);
            frame = link::writeRequest(address, m_in.byte());
            break;
        }
        case 4:
            frame = link::startSamplingFrame();
            break;
        case 5:
            frame = link::endSamplingFrame();
            break;
        case 6:
            frame = m_in.byte() % 2 == 0 ? link::endOfProgrammingFrame() : link::tsmrFrame();
            break;
        default:
            for (int i = 0; i < 4; ++i)
                frame[static_cast<std::size_t>(i)] = m_in.byte();
            frame = link::makeFrame(frame[0], frame[1], frame[2], frame[3]);
            break;
        }
        const std::size_t cut = m_in.byte() % 6;
        receive(std::span<const std::uint8_t>(frame).first(cut));
        m_now += m_in.byte() % 64;
        receive(std::span<const std::uint8_t>(frame).subspan(cut));
    }

    void insertCoin()
    {
        const int type = m_in.byte() % 14 - 1;
        const bool irregular = m_in.byte() % 2 == 1;
        m_selector.setRecordType(m_in.byte());
        m_selector.setSpareByte(m_in.byte());
        const bool answers = m_selector.isSampling() && !m_selector.isGone() && type >= 0 && type < 12;
        const bool planned = !m_selector.faultPlan().isEmpty();
        const auto record = m_selector.insertCoin(type, irregular);
        check(record.has_value() == answers);
        // A fault plan may drop, spoil, delay or split the record like any reply.
        if (!record || planned) return;
        check(record->size() == 1);
        const auto& bytes = record->front().bytes;
        check(record->front().delayMs == 0);
        check(bytes.size() == static_cast<std::size_t>(sim::kMeasurementRecordSize));
        check(bytes[0] == (irregular ? m_selector.irregularRecordType() : m_selector.recordType()));
        check(bytes[5] == m_selector.spareByte());
        check(link::hasValidChecksum(std::span<const std::uint8_t>(bytes).first(5)));
        check(link::hasValidChecksum(std::span<const std::uint8_t>(bytes).subspan(5)));
    }

    void receive(std::span<const std::uint8_t> bytes)
    {
        const auto memoryBefore = m_selector.memory();
        const auto countsBefore = m_selector.counts();
        const std::size_t logBefore = m_selector.log().size();
        const bool goneBefore = m_selector.isGone();

        const auto emissions = m_selector.receive(bytes, m_now);
        m_fed += static_cast<std::int64_t>(bytes.size());

        const auto& counts = m_selector.counts();
        const auto& log = m_selector.log();
        const std::span<const sim::ReceivedFrame> fresh(log.data() + logBefore, log.size() - logBefore);
        check(log.size() == static_cast<std::size_t>(frameCount(counts)));
        const std::int64_t waiting =
            m_fed - counts.badBytes - 5 * static_cast<std::int64_t>(frameCount(counts));
        check(waiting - 5 * counts.lost >= 0 && waiting - 5 * counts.lost < link::kFrameSize);
        for (const auto& received : fresh) {
            check(link::hasValidChecksum(received.frame));
            check(received.timeMs == m_now);
        }

        // Memory moves only where a write frame of this call put that very value.
        for (int address = 0; address < sim::VirtualSelector::kCellCount; ++address) {
            const auto index = static_cast<std::size_t>(address);
            if (m_selector.memory()[index] == memoryBefore[index]) continue;
            check(!goneBefore);
            check(std::any_of(fresh.begin(), fresh.end(), [&](const sim::ReceivedFrame& r) {
                return sim::VirtualSelector::classify(r.frame) == sim::FrameKind::Write &&
                       r.frame[1] == address && r.frame[3] == m_selector.memory()[index];
            }));
        }

        const std::int64_t replies = counts.replies - countsBefore.replies;
        check(replies >= 0 && replies <= static_cast<std::int64_t>(fresh.size()));
        if (goneBefore) check(emissions.empty() && replies == 0);
        check(emissions.size() <= static_cast<std::size_t>(replies) * FaultPlan::kMaxSplitParts);

        const std::int64_t delay = m_selector.replyDelayMs();
        for (const auto& emission : emissions) {
            check(!emission.bytes.empty());
            check(emission.delayMs >= delay);
            check(emission.delayMs <=
                  delay + m_maxLate + (FaultPlan::kMaxSplitParts - 1) * FaultPlan::kSplitGapMs);
            m_emittedBytes += static_cast<std::int64_t>(emission.bytes.size());
        }
        check(m_emittedBytes <= (counts.replies - m_repliesBase) * (link::kFrameSize + m_maxNoise));

        if (m_faultFree && !goneBefore && !m_selector.isGone()) checkAnswers(fresh, memoryBefore, emissions);
    }

    // A selector without faults answers each read with the cell as it stood at that moment,
    // and echoes each write and sampling start, one whole frame each, right on time.
    void checkAnswers(std::span<const sim::ReceivedFrame> fresh, sim::VirtualSelector::Memory memory,
                      const std::vector<sim::Emission>& emissions) const
    {
        std::vector<sim::Emission> expected;
        for (const auto& received : fresh) {
            const auto& f = received.frame;
            link::Frame reply{};
            switch (sim::VirtualSelector::classify(f)) {
            case sim::FrameKind::Read:
                reply = link::makeFrame(link::command::kRead, f[1], 0, memory[f[1]]);
                break;
            case sim::FrameKind::Write:
                memory[f[1]] = f[3];
                reply = f;
                break;
            case sim::FrameKind::StartSampling:
                reply = f;
                break;
            default:
                continue;
            }
            expected.push_back(
                {m_selector.replyDelayMs(), std::vector<std::uint8_t>(reply.begin(), reply.end())});
        }
        check(emissions == expected);
        check(memory == m_selector.memory());
    }

    using FaultPlan = sim::FaultPlan;

    Input& m_in;
    sim::VirtualSelector m_selector;
    std::int64_t m_now = 0;
    std::int64_t m_fed = 0;
    std::int64_t m_maxLate = 0;
    std::int64_t m_maxNoise = 0;
    bool m_faultFree = true;
    std::int64_t m_repliesBase = 0;
    std::int64_t m_emittedBytes = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The plan's text comes first, up to a line break; without one there is no plan.
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = whole.find('\n');
    const auto parsed =
        sim::FaultPlan::parse(lineEnd == std::string_view::npos ? "" : whole.substr(0, lineEnd));
    const std::size_t skip = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
    Input in(data + skip, size - skip);
    Harness harness(in, parsed.plan.value_or(sim::FaultPlan{}));
    while (!in.empty())
        harness.step();
    harness.finish();
    return 0;
}
