// The link engine running sampling jobs under arbitrary line events: noise, good and spoiled
// records and handshake answers in any chunking, timer firings, cancels, lost ports and time
// passing.
//
// Checked on every action: the only frames are the start and end of sampling; nothing follows
// the end frame, which closes every run except one whose port was lost; a run succeeds with
// exactly twelve samples of A below 32768 and otherwise leaves none; every run finishes once;
// and the engine never sits on a whole record's worth of bytes unexamined.
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/link_engine.h"
#include "link/sampling_transfer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace {

namespace link = quarvel::link;
using Engine = link::LinkEngine;
using quarvel::fuzz::check;
using quarvel::fuzz::Input;

class Harness
{
public:
    explicit Harness(Input& in) : m_in(in) {}

    void step()
    {
        switch (m_in.byte() % 9) {
        case 0:
            if (!m_engine.isRunning()) start();
            break;
        case 1:
            noise();
            break;
        case 2:
        case 3:
            record();
            break;
        case 4:
            handshakeAnswer();
            break;
        case 5:
            if (m_armed) fire();
            break;
        case 6:
            apply(m_engine.abort(link::Transfer::AbortReason::UserCancel, m_now));
            break;
        case 7:
            if (m_in.byte() % 4 == 0) {
                if (m_inTransfer) m_portLost = true;
                apply(m_engine.abort(link::Transfer::AbortReason::PortLost, m_now));
            }
            break;
        default:
            m_now += m_in.millis();
            break;
        }
        checkAfterEvent();
    }

    // A run still going is cancelled and waited out; it must end.
    void drain()
    {
        apply(m_engine.abort(link::Transfer::AbortReason::UserCancel, m_now));
        for (int i = 0; i < 100 && m_engine.isRunning(); ++i) {
            check(m_armed.has_value());
            fire();
        }
        check(!m_engine.isRunning());
        check(m_finished == m_started);
    }

private:
    void start()
    {
        Engine::Jobs jobs;
        jobs.push_back(std::make_unique<link::SamplingTransfer>(m_samples));
        ++m_started;
        apply(m_engine.run(std::move(jobs), m_now).value());
    }

    void feed(const std::vector<std::uint8_t>& bytes)
    {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + m_in.byte() % 12);
            apply(m_engine.bytesArrived(std::span(bytes).subspan(at, n), m_now));
            at += n;
            checkAfterEvent();
        }
    }

    void noise()
    {
        std::vector<std::uint8_t> bytes(m_in.byte() % 24);
        for (auto& b : bytes)
            b = m_in.byte();
        feed(bytes);
    }

    // A well-formed record, its type, A high byte or a checksum maybe spoiled.
    void record()
    {
        std::vector<std::uint8_t> r(10);
        for (auto& b : r)
            b = m_in.byte();
        r[4] = link::checksum(r[0], r[1], r[2], r[3]);
        r[9] = link::checksum(r[5], r[6], r[7], r[8]);
        if (m_in.byte() % 8 == 0) r[m_in.byte() % 10] ^= 0x01;
        feed(r);
    }

    void handshakeAnswer()
    {
        const link::Frame good = link::makeFrame(link::command::kStartSampling, 0, 0, 0);
        std::vector<std::uint8_t> bytes(good.begin(), good.end());
        if (m_in.byte() % 4 == 0) bytes[m_in.byte() % 5] ^= 0x10;
        feed(bytes);
    }

    void fire()
    {
        const auto tag = *m_armed;
        m_now += m_armedMs;
        m_armed.reset();
        apply(m_engine.timerFired(tag, m_now));
    }

    void apply(const Engine::Actions& actions)
    {
        for (const auto& action : actions) {
            if (const auto* arm = std::get_if<Engine::ArmTimer>(&action)) {
                m_armed = arm->tag;
                m_armedMs = arm->ms;
            } else if (std::holds_alternative<Engine::StopTimer>(action)) {
                m_armed.reset();
            } else if (std::holds_alternative<Engine::TransferStarted>(action)) {
                check(!m_inTransfer);
                m_inTransfer = true;
                m_endSent = false;
                m_portLost = false;
            } else if (const auto* write = std::get_if<Engine::Write>(&action)) {
                onWrite(write->frame);
            } else if (const auto* finished = std::get_if<Engine::TransferFinished>(&action)) {
                onFinished(*finished);
            } else if (std::holds_alternative<Engine::RunFinished>(action)) {
                check(!m_inTransfer);
                ++m_finished;
                check(m_finished == m_started);
            }
        }
    }

    void onWrite(const link::Frame& frame)
    {
        check(m_inTransfer);
        check(!m_endSent);
        if (frame == link::endSamplingFrame())
            m_endSent = true;
        else
            check(frame == link::startSamplingFrame());
    }

    void onFinished(const Engine::TransferFinished& finished)
    {
        check(m_inTransfer);
        m_inTransfer = false;
        const bool succeeded = finished.summary.reason == link::EndReason::Succeeded;
        check((finished.outcome == link::Outcome::Succeeded) == succeeded);
        check(m_samples.size() == (succeeded ? 12u : 0u));
        for (const auto& s : m_samples)
            check(s.a >= 0 && s.a < 32768);
        check(m_endSent == (finished.summary.reason != link::EndReason::PortLost));
        check(!m_portLost || finished.summary.reason == link::EndReason::PortLost);
    }

    void checkAfterEvent()
    {
        check(m_engine.isRunning() == (m_finished < m_started));
        if (m_inTransfer) check(m_engine.bufferedBytes() < 10);
        check(m_samples.size() <= 12);
    }

    Input& m_in;
    std::vector<quarvel::sampling::Sample> m_samples; // before the engine: its jobs refer to it
    Engine m_engine;
    std::int64_t m_now = 0;
    std::optional<Engine::TimerTag> m_armed;
    int m_armedMs = 0;
    int m_started = 0;
    int m_finished = 0;
    bool m_inTransfer = false;
    bool m_endSent = false;
    bool m_portLost = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    Harness harness(in);
    while (!in.empty())
        harness.step();
    harness.drain();
    return 0;
}
