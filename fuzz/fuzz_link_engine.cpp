// The link engine running read and programming jobs, driven by an event stream decoded from the
// input: replies good and bad in any chunking, stray bytes, timer firings with the live tag or a
// stale one, time passing, timing changes, aborts, and run()/sendFrame() at any moment.
//
// The harness keeps its own model of the line (what was asked, which bytes the engine must take
// as the reply, how many exchanges failed) and checks every action against it: frames are well
// formed and go only to real addresses, a retry repeats the exact request, no transfer absorbs
// more than its failure budget, every accepted run finishes exactly once, and a running engine
// always has a timer armed (otherwise nothing could ever move it on).
#include "fuzz_input.h"
#include "image/cell_byte.h"
#include "image/parameter_image.h"
#include "link/frame.h"
#include "link/link_engine.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#ifdef QUARVEL_FUZZ_PLAN
#include "plan_line.h"

#include <cstdlib>
#include <random>
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace {

namespace link = quarvel::link;
using quarvel::ParameterImage;
using Engine = link::LinkEngine;

using quarvel::fuzz::check;
using quarvel::fuzz::Input;

constexpr int kCells = ParameterImage::kSelectorCells;
constexpr int kBudget = link::ReadTransfer::kFailureBudget;
static_assert(link::ProgramTransfer::kFailureBudget == kBudget);
constexpr std::size_t kEngineBufferLimit = 4096; // the engine keeps the newest bytes beyond this

enum class JobKind
{
    Read,
    Program
};

struct JobInfo
{
    JobKind kind = JobKind::Read;
    int begin = 0;
    int total = kCells - 1;
    bool validRange() const { return begin >= 0 && begin <= total && total < kCells; }
};

class Harness
{
public:
    explicit Harness(Input& in) : m_in(in) {}

    void step()
    {
        switch (m_in.byte() % 20) {
        case 0:
        case 1:
            runJobs();
            break;
        case 2:
            sendFrame();
            break;
        case 3:
        case 4:
            strayBytes();
            break;
        case 5:
        case 6:
        case 7:
            craftedReply();
            break;
        case 8:
            goodReplies();
            break;
        case 9:
        case 10:
            if (m_armed) fire(*m_armed);
            break;
        case 11:
            staleFire();
            break;
        case 12:
        case 13:
            m_now += m_in.millis();
            break;
        case 14:
            abort(link::Transfer::AbortReason::UserCancel);
            break;
        case 15:
            abort(link::Transfer::AbortReason::PortLost);
            break;
        case 16:
            setTiming();
            break;
        case 17:
            editCell();
            break;
        default:
            goodReplies();
            break;
        }
        checkAfterEvent();
    }

    // Nothing left to say: let every exchange time out until the run ends, which must happen.
    void drain()
    {
        for (int i = 0; i < 10000 && m_engine.isRunning(); ++i) {
            check(m_armed.has_value());
            // The clock reaches each timer: a wait for the line to fall quiet ends only then.
            m_now += std::max(0, m_armedMs);
            fire(*m_armed);
            checkAfterEvent();
        }
        check(!m_engine.isRunning());
        check(m_finished == m_accepted);
    }

private:
    // --- events ---

    void runJobs()
    {
        Engine::Jobs jobs;
        std::vector<JobInfo> infos;
        const int count = m_in.byte() % 5;
        for (int i = 0; i < count; ++i) {
            switch (m_in.byte() % 5) {
            case 0:
                jobs.push_back(std::make_unique<link::ReadTransfer>());
                infos.push_back({JobKind::Read, 0, kCells - 1});
                break;
            case 1: {
                auto all = link::programJobs(m_image);
                for (const auto& range : link::kProgramRanges)
                    infos.push_back({JobKind::Program, range.first, range.last});
                for (auto& job : all)
                    jobs.push_back(std::move(job));
                break;
            }
            case 2: {
                // Any range at all, most of them near or beyond the ends of the memory.
                const int begin = static_cast<int>(m_in.byte()) - 20;
                const int total = begin + static_cast<int>(m_in.byte() % 8) - 2;
                jobs.push_back(std::make_unique<link::ProgramTransfer>(m_image, begin, total));
                infos.push_back({JobKind::Program, begin, total});
                break;
            }
            case 3:
                jobs.push_back(nullptr); // dropped by the engine
                break;
            default: {
                const int begin = m_in.byte() % kCells;
                const int total = std::min(kCells - 1, begin + m_in.byte() % 4);
                jobs.push_back(std::make_unique<link::ProgramTransfer>(m_image, begin, total));
                infos.push_back({JobKind::Program, begin, total});
                break;
            }
            }
        }

        const bool wasRunning = m_engine.isRunning();
        auto actions = m_engine.run(std::move(jobs), m_now);
        check(actions.has_value() == !wasRunning);
        if (!actions) return;
        ++m_accepted;
        // The jobs send the image as it was now, whatever is edited while they run.
        m_sentImage = m_image;
        m_jobs = std::move(infos);
        m_started = 0;
        m_allSucceeded = true;
        m_portLost = false;
        m_aborted = false;
        apply(*actions);
    }

    void sendFrame()
    {
        const link::Frame frame = m_in.byte() % 2 == 0 ? link::tsmrFrame() : link::endSamplingFrame();
        const bool wasRunning = m_engine.isRunning();
        const auto actions = m_engine.sendFrame(frame, m_now);
        check(actions.has_value() == !wasRunning);
        if (!actions) return;
        std::vector<link::Frame> written;
        for (const auto& action : *actions)
            if (const auto* write = std::get_if<Engine::Write>(&action)) written.push_back(write->frame);
        check(written == std::vector{frame});
    }

    void strayBytes()
    {
        std::vector<std::uint8_t> bytes(m_in.byte() % 16);
        for (auto& b : bytes)
            b = m_in.byte();
        deliver(bytes);
    }

    // The right answer to what is asked, maybe spoiled, in a few chunks.
    void craftedReply()
    {
        std::vector<std::uint8_t> bytes = goodReply(m_in.byte());
        switch (m_in.byte() % 8) {
        case 0:
            bytes[4] ^= static_cast<std::uint8_t>(1 + m_in.byte() % 255); // bad checksum
            break;
        case 1:
            bytes[0] ^= 0x03; // wrong echo, right checksum
            bytes[4] = link::checksum(bytes[0], bytes[1], bytes[2], bytes[3]);
            break;
        case 2:
            bytes[1] = static_cast<std::uint8_t>(bytes[1] + 1); // wrong address, right checksum
            bytes[4] = link::checksum(bytes[0], bytes[1], bytes[2], bytes[3]);
            break;
        case 3:
            bytes.resize(1 + m_in.byte() % 4); // cut short
            break;
        case 4: {
            const std::size_t count = m_in.byte() % 7;
            bytes.insert(bytes.end(), count, m_in.byte()); // trailing noise
            break;
        }
        default:
            break;
        }
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t length = std::min<std::size_t>(bytes.size() - at, 1 + m_in.byte() % 6);
            deliver(std::span<const std::uint8_t>(bytes).subspan(at, length));
            at += length;
        }
    }

    // A stretch of a well-behaved selector, so that whole transfers get through.
    void goodReplies()
    {
        const int count = m_in.byte();
        for (int i = 0; i < count && m_engine.isRunning(); ++i) {
            if (m_outstanding) {
                const auto bytes = goodReply(static_cast<std::uint8_t>(i * 7));
                deliver(bytes);
            } else {
                check(m_armed.has_value());
                m_now += std::max(0, m_armedMs);
                fire(*m_armed);
            }
            checkAfterEvent();
        }
    }

    void staleFire()
    {
        if (!m_issued.empty() && m_in.byte() % 2 == 0) {
            fire(m_issued[m_in.byte() % m_issued.size()]);
        } else {
            fire(m_in.byte());
        }
    }

    void abort(link::Transfer::AbortReason reason)
    {
        if (reason == link::Transfer::AbortReason::PortLost && m_engine.isRunning()) m_portLost = true;
        // Either way the jobs not yet started never start.
        if (m_engine.isRunning()) m_aborted = true;
        apply(m_engine.abort(reason, m_now));
    }

    void setTiming()
    {
        link::LinkTiming timing{m_in.u16() - 1000, m_in.u16() - 1000};
        m_engine.setTiming(timing);
        m_timing = {std::max(0, timing.replyTimeoutMs), std::max(0, timing.closingPauseMs)};
        check(m_engine.timing() == m_timing);
    }

    void editCell()
    {
        std::string text(m_in.byte() % 24, ' ');
        for (auto& c : text)
            c = static_cast<char>(m_in.byte());
        const int address = m_in.u16() % (ParameterImage::kCellCount + 8) - 4;
        m_image.setText(address, std::move(text));
    }

    // --- the line model ---

    std::vector<std::uint8_t> goodReply(std::uint8_t value) const
    {
        if (!m_outstanding) return {link::command::kRead, 0, 0, 0, link::command::kRead};
        const link::Frame& request = *m_outstanding;
        const link::Frame reply = request[0] == link::command::kRead
                                      ? link::makeFrame(link::command::kRead, request[1], value, value)
                                      : request;
        return {reply.begin(), reply.end()};
    }

    void deliver(std::span<const std::uint8_t> bytes)
    {
        // While the engine waits for the line to fall quiet, what comes is dropped as stale.
        if (!m_settling) m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
        const bool takes = m_outstanding && m_buffer.size() >= static_cast<std::size_t>(link::kFrameSize);
        if (takes) take();
        const auto actions = m_engine.bytesArrived(bytes, m_now);
        check(!takes || !actions.empty()); // a reply always leads somewhere
        if (!takes && m_buffer.size() > kEngineBufferLimit)
            m_buffer.erase(m_buffer.begin(),
                           m_buffer.end() - static_cast<std::ptrdiff_t>(kEngineBufferLimit));
        apply(actions);
    }

    // The engine takes the first five bytes as the reply and drops the rest.
    void take()
    {
        const std::span<const std::uint8_t> reply(m_buffer.data(), link::kFrameSize);
        const link::Frame& request = *m_outstanding;
        bool good = link::hasValidChecksum(reply) && reply[0] == request[0];
        if (request[0] == link::command::kRead) good = good && reply[1] == request[1];
        if (good && request[0] == link::command::kRead) m_readValues[request[1]] = reply[3];
        m_buffer.clear();
        m_outstanding.reset();
        exchangeEnded(good);
    }

    void fire(Engine::TimerTag tag)
    {
        const bool live = m_armed && *m_armed == tag;
        if (live) {
            m_armed.reset();
            if (m_outstanding) {
                m_outstanding.reset();
                exchangeEnded(false);
            }
        }
        const auto actions = m_engine.timerFired(tag, m_now);
        check(live || actions.empty()); // a stale or unknown tag does nothing
        apply(actions);
    }

    void exchangeEnded(bool good)
    {
        check(m_inTransfer);
        m_lastGood = good;
        if (!good) ++m_failures;
        check(m_failures <= kBudget);
    }

    // --- the engine's actions, checked one by one ---

    void apply(const Engine::Actions& actions)
    {
        bool afterFlush = false;
        for (const auto& action : actions) {
            const bool flush = std::holds_alternative<Engine::Flush>(action);
            if (flush) {
                m_buffer.clear();
            } else if (const auto* write = std::get_if<Engine::Write>(&action)) {
                onWrite(write->frame);
            } else if (const auto* arm = std::get_if<Engine::ArmTimer>(&action)) {
                onArm(*arm);
            } else if (std::holds_alternative<Engine::StopTimer>(action)) {
                check(m_armed.has_value());
                m_armed.reset();
            } else if (const auto* status = std::get_if<Engine::Status>(&action)) {
                onStatus(*status);
            } else if (std::holds_alternative<Engine::TransferStarted>(action)) {
                check(afterFlush);
                onStarted();
            } else if (const auto* finished = std::get_if<Engine::TransferFinished>(&action)) {
                onFinished(finished->outcome, finished->summary);
            } else if (const auto* run = std::get_if<Engine::RunFinished>(&action)) {
                onRunFinished(run->allSucceeded);
            }
            afterFlush = flush;
        }
    }

    void onWrite(const link::Frame& frame)
    {
        check(m_inTransfer);
        // Bytes waiting when a request goes out are never its reply.
        m_settling = false;
        m_buffer.clear();
        check(!m_outstanding);
        check(link::hasValidChecksum(frame));
        check(m_failures < kBudget); // the exchange that spends the budget ends the transfer
        check(!m_endSent);
        const JobInfo& job = m_current;
        check(job.validRange());

        if (frame == link::endOfProgrammingFrame()) {
            // Closes the range only after the last cell was written and echoed.
            check(job.kind == JobKind::Program);
            check(m_lastRequest && (*m_lastRequest)[1] == job.total && m_lastGood);
            m_endSent = true;
            return;
        }

        int address = 0;
        if (job.kind == JobKind::Read) {
            check(frame == link::readRequest(frame[1]));
        } else {
            check(frame[0] == link::command::kWrite && frame[2] == 85);
        }
        address = frame[1];
        check(address < kCells);

        if (!m_lastRequest) {
            check(address == (job.kind == JobKind::Read ? 0 : job.begin));
        } else if (!m_lastGood) {
            check(frame == *m_lastRequest); // a retry repeats the exact bytes
        } else {
            check(address == (*m_lastRequest)[1] + 1);
        }
        if (job.kind == JobKind::Program) {
            check(address >= job.begin && address <= job.total);
            if (m_lastGood || !m_lastRequest) check(frame[3] == quarvel::cellByte(m_sentImage.text(address)));
        }
        m_lastRequest = frame;
        m_outstanding = frame;
        // A reply that came early (or the tail of a late one) already makes up the answer.
        if (m_buffer.size() >= static_cast<std::size_t>(link::kFrameSize)) take();
    }

    void onArm(const Engine::ArmTimer& arm)
    {
        check(arm.tag > m_lastTag);
        m_lastTag = arm.tag;
        if (m_outstanding) {
            check(arm.ms == m_timing.replyTimeoutMs);
        } else if (m_inTransfer) {
            // After a failed exchange the retry waits for the line to fall quiet; what waited
            // in the buffer is stale, never the retry's answer.
            check(arm.ms > 0 && arm.ms <= link::kLineQuietMs);
            m_settling = true;
            m_buffer.clear();
        } else {
            // A closing pause: only between transfers, never longer than the configured pause.
            check(!m_inTransfer);
            check(arm.ms > 0 && arm.ms <= m_timing.closingPauseMs);
        }
        m_armed = arm.tag;
        m_armedMs = arm.ms;
        if (m_issued.size() < 64)
            m_issued.push_back(arm.tag);
        else
            m_issued[arm.tag % m_issued.size()] = arm.tag;
    }

    void onStatus(const Engine::Status& status)
    {
        check(m_inTransfer);
        if (const auto* text = std::get_if<link::ShowText>(&status.report)) check(!text->text.empty());
        if (const auto* progress = std::get_if<link::SetProgress>(&status.report)) {
            check(progress->value >= 0 && progress->value <= kCells);
            if (progress->maximum) check(*progress->maximum == kCells);
        }
    }

    void onStarted()
    {
        check(m_accepted > m_finished);
        check(!m_inTransfer);
        check(m_started < m_jobs.size());
        m_current = m_jobs[m_started++];
        m_inTransfer = true;
        m_failures = 0;
        m_lastRequest.reset();
        m_outstanding.reset();
        m_lastGood = false;
        m_endSent = false;
        m_readValues.fill(-1);
    }

    void onFinished(link::Outcome outcome, const link::TransferSummary& summary)
    {
        check(m_inTransfer);
        check(outcome != link::Outcome::Running);
        const JobInfo& job = m_current;
        bool complete = false;
        if (job.kind == JobKind::Read) {
            complete = m_lastRequest && (*m_lastRequest)[1] == kCells - 1 && m_lastGood && !m_outstanding;
        } else {
            complete = m_endSent;
        }
        check((outcome == link::Outcome::Succeeded) == complete);
        if (complete && job.kind == JobKind::Read) {
            // Every cell handed over holds what the selector answered for it.
            const auto* cells = std::get_if<link::ReadCells>(&summary.output);
            check(cells && cells->first == 0 && cells->values.size() == static_cast<std::size_t>(kCells));
            for (int address = 0; address < kCells; ++address)
                check(cells->values[static_cast<std::size_t>(address)] ==
                      m_readValues[static_cast<std::size_t>(address)]);
        }
        if (!job.validRange()) check(!m_lastRequest); // refused before sending anything
        if (outcome != link::Outcome::Succeeded) m_allSucceeded = false;
        m_inTransfer = false;
        m_settling = false;
        m_outstanding.reset();
    }

    void onRunFinished(bool allSucceeded)
    {
        check(!m_inTransfer);
        check(m_accepted == m_finished + 1);
        ++m_finished;
        if (!m_aborted) check(m_started == m_jobs.size());
        check(allSucceeded == (m_allSucceeded && m_started == m_jobs.size()));
    }

    void checkAfterEvent()
    {
        check(m_engine.isRunning() == (m_accepted > m_finished));
        // A running engine that has no timer armed could only be moved on by bytes, and none
        // of these transfers waits without a time-out.
        if (m_engine.isRunning()) check(m_armed.has_value());
        if (!m_engine.isRunning()) check(!m_inTransfer && !m_armed);
        check(m_engine.bufferedBytes() == m_buffer.size());
    }

    Input& m_in;
    // Declared before the engine: its jobs refer to them. Reads get their own image, since a
    // programming job may start in the same call as a read ends.
    ParameterImage m_image;
    ParameterImage m_sentImage; // as the running jobs were given it
    Engine m_engine;
    link::LinkTiming m_timing;
    std::int64_t m_now = 0;

    int m_accepted = 0;
    int m_finished = 0;
    std::vector<JobInfo> m_jobs;
    std::size_t m_started = 0;
    bool m_allSucceeded = true;
    bool m_portLost = false;
    bool m_aborted = false; // a cancel or a lost port during the run

    bool m_inTransfer = false;
    JobInfo m_current;
    int m_failures = 0;
    std::optional<link::Frame> m_lastRequest;
    std::optional<link::Frame> m_outstanding;
    bool m_lastGood = false;
    bool m_endSent = false;
    std::array<int, kCells> m_readValues{};

    std::vector<std::uint8_t> m_buffer;
    bool m_settling = false; // a retry waits for the line to fall quiet
    std::optional<Engine::TimerTag> m_armed;
    int m_armedMs = 0;
    Engine::TimerTag m_lastTag = 0;
    std::vector<Engine::TimerTag> m_issued;
};

} // namespace

#ifdef QUARVEL_FUZZ_PLAN
// A whole programming plan over a virtual selector that misbehaves as the input says, with a
// cancel, a lost port, the answer to the question and a backup that cannot be saved at moments
// the input picks. The plan must end exactly once; progress never goes back; nothing is
// written before the plan's first write; and a success must be true of the selector's memory.
namespace sim = quarvel::sim;

class PlanRun
{
public:
    // The input steers the run while it lasts; then a generator seeded from all of it goes on,
    // so that a short input still makes a run of its own.
    PlanRun(Input& in, std::span<const std::uint8_t> all) : m_in(in)
    {
        std::uint32_t seed = 2166136261u;
        for (const std::uint8_t b : all)
            seed = (seed ^ b) * 16777619u;
        m_rng.seed(seed);
    }

    void run()
    {
        quarvel::testing::PlanLine line({50 + byte() % 4 * 50, byte() % 2 * 300});
        line.model.setWriteEcho(static_cast<sim::WriteEcho>(byte() % 3));
        line.model.setReadReplyByte2(byte());
        line.model.setReplyDelayMs(byte() % 8);
        line.model.setFaultPlan(faults());
        quarvel::session::ProgramRequest request;
        const int flags = byte();
        if (flags & 1) request.backup.kind = quarvel::session::BackupPolicy::Kind::Folder;
        request.verify = (flags & 2) != 0;
        request.exact = (flags & 4) != 0;
        request.identify = (flags & 8) != 0;
        request.guardChannels = (flags & 16) != 0;
        if (flags & 32) request.otherSelector = QStringLiteral("Program anyway?");
        ParameterImage image = line.model.image();
        for (int edits = byte() % 16; edits > 0; --edits) {
            const int cell = byte() % kCells;
            image.setNumber(cell, byte());
        }
        request.image = image;
        line.answer = byte() % 4 != 0;
        if (byte() % 8 == 0) line.saveFailure = QStringLiteral("disk full");
        line.onPhase = [this](quarvel::testing::PlanLine& l) {
            if (byte() == 3) l.cancel();
        };
        line.start(request);
        for (int events = 0; !line.result; ++events) {
            check(events < 1000000);
            const int choice = u16() % 2048;
            if (choice == 1) line.cancel();
            if (choice == 2) line.lose(QStringLiteral("gone"));
            if (!line.result) check(line.step()); // the plan always waits on something
        }

        const auto& result = *line.result;
        check(line.plan->finished() && line.plan->cancel().empty() && line.finishes == 1);
        check(line.writesUnasked == 0);
        check(std::is_sorted(line.progress.begin(), line.progress.end()));
        check(line.progress.empty() ||
              (line.progress.front() >= 0 && line.progress.back() <= line.plan->progressTotal()));
        check(result.cellsWritten() <= quarvel::session::ProgramResult::cellsInRanges());
        if (!result.succeeded()) return;
        check(line.progress.back() == line.plan->progressTotal());
        check(!request.verify || result.verified);
        check(line.holdsSent());
    }

private:
    std::uint8_t byte() { return m_in.empty() ? static_cast<std::uint8_t>(m_rng()) : m_in.byte(); }
    int u16()
    {
        const int low = byte();
        return low | (byte() << 8);
    }

    sim::FaultPlan faults()
    {
        static const char* const kKinds[] = {"drop",    "badsum", "badcmd", "badaddr", "split", "merge",
                                             "garbage", "extra",  "late",   "lost",    "gone"};
        std::string text;
        for (int count = byte() % 12; count > 0; --count) {
            const std::string kind = kKinds[byte() % std::size(kKinds)];
            text += (text.empty() ? "" : ",") + kind + ":" + std::to_string(1 + u16() % 700);
            if (kind == "late") text += ":" + std::to_string(u16() % 2000) + "ms";
        }
        return sim::FaultPlan::parse(text).plan.value_or(sim::FaultPlan{});
    }

    Input& m_in;
    std::minstd_rand m_rng;
};
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
#ifdef QUARVEL_FUZZ_PLAN
    // A programming run is a few hundred exchanges: one input in 32 makes one, unless
    // QUARVEL_FUZZ_PLANS says none ("0") or every one ("all"), which the bounded runs use.
    static const std::string plans = [] {
        const char* value = std::getenv("QUARVEL_FUZZ_PLANS");
        return std::string(value ? value : "");
    }();
    if (size > 0 && plans != "0" && (plans == "all" || data[0] % 32 == 0)) {
        in.byte();
        PlanRun(in, {data, size}).run();
        return 0;
    }
#endif
    Harness harness(in);
    while (!in.empty())
        harness.step();
    harness.drain();
    return 0;
}
