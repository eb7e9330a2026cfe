#include "sim/virtual_selector.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "image/parameter_image.h"

#include <algorithm>
#include <cmath>

namespace quarvel::sim {

namespace {

// Calibration mark and maker letters every programmed selector carries.
constexpr std::array<std::uint8_t, 4> kCalibrationMark{4, 52, 107, 61};
constexpr std::array<std::uint8_t, 6> kMakerMark{'T', 'E', 'S', 'M', 'O', 'R'};

// The noise generator gets its own stream so that garbage bytes do not shift random faults.
constexpr std::uint32_t kNoiseSeedOffset = 0x9E3779B9u;

bool hasFault(const std::vector<Fault>& faults, FaultKind kind)
{
    return std::any_of(faults.begin(), faults.end(), [kind](const Fault& f) { return f.kind == kind; });
}

std::uint8_t byteOf(double value)
{
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

} // namespace

VirtualSelector::VirtualSelector(std::uint32_t sampleSeed)
    : m_memory(factoryMemory()), m_faultRng(0), m_noiseRng(kNoiseSeedOffset), m_sampleRng(sampleSeed)
{}

VirtualSelector::Memory VirtualSelector::factoryMemory()
{
    Memory m{};
    const auto at = [&m](int cell) -> std::uint8_t& { return m[static_cast<std::size_t>(cell)]; };
    const auto types = coinTypes();
    for (int channel = 1; channel <= address::kChannelCount; ++channel) {
        const auto& type = types[static_cast<std::size_t>(channel - 1)];
        const auto a = static_cast<unsigned>(std::lround(type.meanA));
        at(address::refALow(channel)) = static_cast<std::uint8_t>(a & 0xFF);
        at(address::refAHigh(channel)) = static_cast<std::uint8_t>(a >> 8);
        at(address::sigmaA(channel)) = 10;
        at(address::coinTLD(channel)) = 170;
        at(address::coinControl(channel)) = 10; // enabled, separator 0, tolerance A 10
        at(address::refX(channel)) = byteOf(type.meanX);
        at(address::coinValue(channel)) = static_cast<std::uint8_t>(type.value);
        at(address::refY(channel)) = byteOf(type.meanY);
        at(address::refDH(channel)) = byteOf(type.meanDh);
        at(address::toleranceBC(channel)) = 85; // tolerances B and C 5
        at(address::mt2(channel)) = 153;
    }
    at(address::kOutputControl) = 128; // high inhibit, pulse output
    at(address::kSerialNo) = 37;
    for (const address::Bank bank : {address::Bank::A, address::Bank::B}) {
        at(address::price(bank)) = 1;
        at(address::multiplyFactor(bank)) = 1;
        at(address::divideFactor(bank)) = 1;
    }
    at(address::kSignalTime) = 50;
    at(address::kTimerScaleA) = 1;
    at(address::kTimerScaleB) = 1;
    at(address::kHoldTime) = 20;
    std::copy(kCalibrationMark.begin(), kCalibrationMark.end(), m.begin() + address::kStd1Low);
    std::copy(kMakerMark.begin(), kMakerMark.end(), m.begin() + address::lastColumn(1));
    return m;
}

void VirtualSelector::plugInNew()
{
    m_gone = false;
    m_memory = factoryMemory();
    // Selectors differ in the cells no programming writes, as real ones do.
    ++m_newUnits;
    const auto unit = static_cast<unsigned>(m_newUnits);
    auto& serial = m_memory[static_cast<std::size_t>(address::kSerialNo)];
    serial = static_cast<std::uint8_t>(serial + unit);
    for (std::size_t i = 0; i < address::kSecondCalibrationSize; ++i)
        m_memory[static_cast<std::size_t>(address::kSecondCalibration) + i] =
            static_cast<std::uint8_t>(std::size_t{unit} * 37 + i * 11 + 5);
}

FrameKind VirtualSelector::classify(const link::Frame& f)
{
    namespace cmd = link::command;
    const bool oneTwoThree = f[1] == 1 && f[2] == 2 && f[3] == 3;
    if (f[0] == cmd::kRead && f[1] < kCellCount && f[2] == 8 && f[3] == 6) return FrameKind::Read;
    if (f[0] == cmd::kWrite && f[1] < kCellCount && f[2] == 85) return FrameKind::Write;
    if (f == link::tsmrFrame()) return FrameKind::Fixed;
    if (f[0] == cmd::kEndProgramming && oneTwoThree) return FrameKind::EndOfProgramming;
    if (f[0] == cmd::kStartSampling && oneTwoThree) return FrameKind::StartSampling;
    if (f[0] == cmd::kEndSampling && oneTwoThree) return FrameKind::EndSampling;
    return FrameKind::Other;
}

void VirtualSelector::loadImage(const ParameterImage& image)
{
    for (int cell = 0; cell < kCellCount; ++cell)
        m_memory[static_cast<std::size_t>(cell)] = cellByte(image.text(cell));
}

void VirtualSelector::loadMemory(std::span<const std::uint8_t> bytes)
{
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), kCellCount), m_memory.begin());
}

std::uint8_t VirtualSelector::cell(int address) const
{
    return address >= 0 && address < kCellCount ? m_memory[static_cast<std::size_t>(address)] : 0;
}

void VirtualSelector::setCell(int address, std::uint8_t value)
{
    if (address >= 0 && address < kCellCount) m_memory[static_cast<std::size_t>(address)] = value;
}

ParameterImage VirtualSelector::image() const
{
    ParameterImage image;
    for (int address = 0; address < kCellCount; ++address)
        image.setNumber(address, m_memory[static_cast<std::size_t>(address)]);
    return image;
}

void VirtualSelector::setFaultPlan(const FaultPlan& plan)
{
    m_plan = plan;
    m_faultRng.seed(plan.seed());
    m_noiseRng.seed(plan.seed() + kNoiseSeedOffset);
    m_replyIndex = 0;
    m_held.reset();
}

link::Frame VirtualSelector::writeReply(const link::Frame& request) const
{
    using link::command::kWrite;
    const std::uint8_t address = request[1];
    switch (m_writeEcho) {
    case WriteEcho::Request:
        return request;
    case WriteEcho::AddressOnly:
        return link::makeFrame(kWrite, address, 0, 0);
    case WriteEcho::Nothing:
        break;
    case WriteEcho::Constant:
        return link::makeFrame(kWrite, 0x5A, 0x5A, 0x5A);
    case WriteEcho::Masked:
        return link::makeFrame(kWrite, address, request[2], static_cast<std::uint8_t>(request[3] & 0x8F));
    case WriteEcho::OldValue:
        return link::makeFrame(kWrite, address, request[2], m_memory[address]);
    case WriteEcho::Partly:
        if (address < 40) return request;
        break;
    }
    return link::makeFrame(kWrite, 0, 0, 0);
}

std::vector<Emission> VirtualSelector::receive(std::span<const std::uint8_t> bytes, std::int64_t nowMs)
{
    std::vector<Emission> out;
    if (bytes.empty()) return out;
    if (!m_pending.empty() && nowMs - m_lastByteMs > m_frameGapMs) {
        m_counts.badBytes += static_cast<std::int64_t>(m_pending.size());
        m_pending.clear();
    }
    m_lastByteMs = nowMs;
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());

    std::size_t pos = 0;
    while (m_pending.size() - pos >= link::kFrameSize) {
        const std::span<const std::uint8_t> window(m_pending.data() + pos, link::kFrameSize);
        if (!link::hasValidChecksum(window)) {
            ++pos;
            ++m_counts.badBytes;
            continue;
        }
        link::Frame frame{};
        std::copy(window.begin(), window.end(), frame.begin());
        pos += link::kFrameSize;
        handleFrame(frame, nowMs, out);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(pos));
    return out;
}

void VirtualSelector::handleFrame(const link::Frame& frame, std::int64_t nowMs, std::vector<Emission>& out)
{
    const auto kind = classify(frame);
    const bool answered =
        kind == FrameKind::Read || kind == FrameKind::Write || kind == FrameKind::StartSampling;
    // A lost request never reached the selector: it leaves no trace here at all.
    const auto faults = answered && !m_gone ? nextFaults() : std::vector<Fault>{};
    if (hasFault(faults, FaultKind::Lost)) {
        ++m_counts.lost;
        return;
    }
    m_log.push_back({nowMs, frame});
    count(kind);
    if (m_swaps) operatorActs(kind, nowMs);
    if (!m_gone) answer(frame, kind, faults, out);
}

void VirtualSelector::count(FrameKind kind)
{
    switch (kind) {
    case FrameKind::Read:
        ++m_counts.reads;
        break;
    case FrameKind::Write:
        ++m_counts.writes;
        break;
    case FrameKind::EndOfProgramming:
        ++m_counts.endOfProgramming;
        break;
    case FrameKind::StartSampling:
        ++m_counts.samplingStarts;
        break;
    case FrameKind::EndSampling:
        ++m_counts.samplingEnds;
        break;
    case FrameKind::Fixed:
        ++m_counts.fixed;
        break;
    case FrameKind::Other:
        ++m_counts.other;
        break;
    }
}

// A station's operator takes selectors off and puts them on as the frames go by.
void VirtualSelector::operatorActs(FrameKind kind, std::int64_t nowMs)
{
    switch (m_swaps->frame(nowMs, kind == FrameKind::Write || kind == FrameKind::EndOfProgramming)) {
    case StationSwaps::Action::TakeOff:
        m_gone = true;
        break;
    case StationSwaps::Action::PutOnNew:
        plugInNew();
        break;
    case StationSwaps::Action::PutBack:
        putBack();
        break;
    case StationSwaps::Action::None:
        break;
    }
}

void VirtualSelector::answer(const link::Frame& frame, FrameKind kind, const std::vector<Fault>& faults,
                             std::vector<Emission>& out)
{
    const std::uint8_t address = frame[1];
    switch (kind) {
    case FrameKind::Read:
        sendReply(link::makeFrame(link::command::kRead, address, m_readReplyByte2, m_memory[address]), faults,
                  out);
        break;
    case FrameKind::Write: {
        const link::Frame reply = writeReply(frame);
        // A selector that vanishes at this reply never stored the value either.
        if (sendReply(reply, faults, out)) m_memory[address] = frame[3];
        break;
    }
    case FrameKind::StartSampling:
        if (sendReply(frame, faults, out)) {
            m_sampling = true;
            m_coinsThisRun = 0;
            m_startAnswer.assign(frame.begin(), frame.end());
        }
        break;
    case FrameKind::EndSampling:
        m_sampling = false;
        break;
    case FrameKind::EndOfProgramming:
    case FrameKind::Fixed:
    case FrameKind::Other:
        break;
    }
}

std::vector<Fault> VirtualSelector::nextFaults()
{
    return m_plan.faultsFor(++m_replyIndex, m_faultRng);
}

bool VirtualSelector::sendReply(std::span<const std::uint8_t> reply, const std::vector<Fault>& faults,
                                std::vector<Emission>& out)
{
    ++m_counts.replies;
    const auto has = [&faults](FaultKind kind) { return hasFault(faults, kind); };
    const auto total = [&faults](FaultKind kind) {
        std::int64_t sum = 0;
        for (const auto& f : faults)
            sum += f.kind == kind ? f.amount : 0;
        return sum;
    };

    if (has(FaultKind::Gone)) {
        m_gone = true;
        m_sampling = false;
        m_held.reset();
        return false;
    }
    if (has(FaultKind::Drop) || has(FaultKind::Lost)) return true; // a record cannot be lost on the way in

    std::vector<std::uint8_t> body(reply.begin(), reply.end());
    if (has(FaultKind::BadCommand) || has(FaultKind::BadAddress)) {
        body[0] = static_cast<std::uint8_t>(body[0] + (has(FaultKind::BadCommand) ? 1 : 0));
        body[1] = static_cast<std::uint8_t>(body[1] + (has(FaultKind::BadAddress) ? 1 : 0));
        body[4] = link::checksum(body[0], body[1], body[2], body[3]);
    }
    if (has(FaultKind::BadChecksum)) body[4] = static_cast<std::uint8_t>(body[4] + 1);

    std::vector<std::uint8_t> bytes = m_held.value_or(std::vector<std::uint8_t>{});
    m_held.reset();
    const auto before = noise(total(FaultKind::Garbage));
    const auto after = noise(total(FaultKind::Extra));
    bytes.insert(bytes.end(), before.begin(), before.end());
    bytes.insert(bytes.end(), body.begin(), body.end());
    bytes.insert(bytes.end(), after.begin(), after.end());

    if (has(FaultKind::Merge)) {
        m_held = std::move(bytes);
        return true;
    }

    const std::int64_t delay = m_replyDelayMs + total(FaultKind::Late);
    std::int64_t parts = 1;
    for (const auto& f : faults) {
        if (f.kind == FaultKind::Split) parts = std::max(parts, f.amount);
    }
    parts = std::min<std::int64_t>(parts, static_cast<std::int64_t>(bytes.size()));

    const std::size_t size = bytes.size();
    const auto count = static_cast<std::size_t>(parts);
    std::size_t start = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = size / count + (i < size % count ? 1 : 0);
        out.push_back(
            {delay + static_cast<std::int64_t>(i) * FaultPlan::kSplitGapMs,
             std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(start + length))});
        start += length;
    }
    return true;
}

std::vector<std::uint8_t> VirtualSelector::noise(std::int64_t count)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(m_noiseRng() & 0xFF);
    return bytes;
}

std::optional<std::vector<Emission>> VirtualSelector::insertCoin(const CoinSample& sample)
{
    if (!m_sampling || m_gone) return std::nullopt;
    ++m_counts.coins;
    ++m_coinsThisRun;
    std::vector<Emission> out;
    const bool repeat = m_repeatedAnswer.coin == m_coinsThisRun && !m_startAnswer.empty();
    if (repeat && !m_repeatedAnswer.betweenHalves) out.push_back({0, m_startAnswer});
    const auto record = measurementRecord(sample);
    const std::size_t from = out.size();
    sendReply(record, nextFaults(), out);
    if (m_halfGapMs > 0 || (repeat && m_repeatedAnswer.betweenHalves))
        splitHalves(out, from, std::span<const std::uint8_t>(record).first(5),
                    repeat && m_repeatedAnswer.betweenHalves);
    return out;
}

// The record's second half, and everything the plan sent after it, goes out m_halfGapMs later;
// the repeated answer, when asked for, between the halves.
void VirtualSelector::splitHalves(std::vector<Emission>& out, std::size_t from,
                                  std::span<const std::uint8_t> first, bool answerBetween)
{
    std::vector<std::uint8_t> all;
    for (std::size_t i = from; i < out.size(); ++i)
        all.insert(all.end(), out[i].bytes.begin(), out[i].bytes.end());
    const auto found = std::search(all.begin(), all.end(), first.begin(), first.end());
    if (found == all.end()) return; // dropped or spoiled by the plan: nothing to split
    const auto cut = static_cast<std::size_t>(found - all.begin()) + first.size();
    std::vector<Emission> split(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(from));
    std::size_t at = 0;
    bool answered = false;
    for (std::size_t i = from; i < out.size(); ++i) {
        const auto& e = out[i];
        const std::size_t end = at + e.bytes.size();
        const auto part = [&](std::size_t a, std::size_t b, std::int64_t extra) {
            if (b > a)
                split.push_back(
                    {e.delayMs + extra,
                     std::vector<std::uint8_t>(e.bytes.begin() + static_cast<std::ptrdiff_t>(a - at),
                                               e.bytes.begin() + static_cast<std::ptrdiff_t>(b - at))});
        };
        part(at, std::min(end, std::max(at, cut)), 0);
        if (end >= cut && !answered) {
            if (answerBetween) split.push_back({e.delayMs, m_startAnswer});
            answered = true;
        }
        part(std::max(at, cut), end, m_halfGapMs);
        at = end;
    }
    out = std::move(split);
}

std::optional<std::vector<Emission>> VirtualSelector::insertCoin(int coinType, bool irregular)
{
    const auto types = coinTypes();
    if (!m_sampling || m_gone || coinType < 0 || coinType >= static_cast<int>(types.size()))
        return std::nullopt;
    CoinSample sample = drawSample(types[static_cast<std::size_t>(coinType)], irregular, m_sampleRng);
    sample.type = irregular ? m_irregularRecordType : m_recordType;
    sample.unused = m_spareByte;
    return insertCoin(sample);
}

std::string VirtualSelector::summary() const
{
    const auto& c = m_counts;
    const int frames =
        c.reads + c.writes + c.endOfProgramming + c.samplingStarts + c.samplingEnds + c.fixed + c.other;
    std::string line = "frames " + std::to_string(frames) + ": reads " + std::to_string(c.reads) +
                       ", writes " + std::to_string(c.writes) + ", end-of-programming " +
                       std::to_string(c.endOfProgramming) + ", sampling start " +
                       std::to_string(c.samplingStarts) + ", sampling end " + std::to_string(c.samplingEnds) +
                       ", fixed " + std::to_string(c.fixed) + ", other " + std::to_string(c.other) +
                       "; bad bytes " + std::to_string(c.badBytes) + "; replies " +
                       std::to_string(c.replies) + "; coins " + std::to_string(c.coins);
    if (c.lost > 0) line += "; lost requests " + std::to_string(c.lost);
    if (m_swaps)
        line += "; units put on " + std::to_string(m_swaps->unitsPutOn()) + ", taken off " +
                std::to_string(m_swaps->unitsTakenOff());
    if (m_gone) line += "; gone";
    return line;
}

} // namespace quarvel::sim
