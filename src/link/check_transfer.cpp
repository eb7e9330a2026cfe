#include "link/check_transfer.h"

#include "link/traffic.h"
#include "link/transfer_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quarvel::link {

namespace {

const char kLatencyText[] =
    "replies arrive in bursts of about 16 ms: the USB adapter's latency timer buffers them; set it to 1 ms "
    "(Linux: /sys/bus/usb-serial/devices/%s/latency_timer; Windows: the port's Advanced settings)";
const char kSlowText[] = "slow line: replies take a steady %.0f ms where the line needs %.1f ms; look for a "
                         "slow converter, radio link or network port between the port and the selector";
const char kLateText[] =
    "slow line: replies come about %.0f ms after the request, too late for the time-out; "
    "look for a slow converter, radio link or network port between the port and the "
    "selector";

// A round trip this much over the line's own time is no selector being slow (it answers
// within its turnaround); something between the port and the selector holds the bytes back.
constexpr double kBufferedMarginMs = 5.0;
// A USB adapter's latency timer passes buffered bytes on at its ticks: round trips land just
// after a multiple of the tick, at most two ticks long. Anything else late is a slow line.
constexpr double kLatencyTickMs = 16.0;
constexpr double kTickSlackMs = 3.0;

bool onTicks(double ms)
{
    if (ms > 2 * kLatencyTickMs + kTickSlackMs) return false;
    const double past = ms - kLatencyTickMs * static_cast<int>(std::lround(ms / kLatencyTickMs));
    return past > -kTickSlackMs && past < kTickSlackMs;
}

double percentileMs(std::vector<std::int64_t> us, double p)
{
    if (us.empty()) return 0;
    std::sort(us.begin(), us.end());
    const auto i = static_cast<std::size_t>(std::llround(p * static_cast<double>(us.size() - 1)));
    return static_cast<double>(us[std::min(i, us.size() - 1)]) / 1000.0;
}

// The sysfs name of an adapter's port ("ttyUSB3" from "/dev/ttyUSB3"); ttyUSB0 as an example
// for anything else.
std::string adapterName(const std::string& port)
{
    const auto slash = port.rfind('/');
    const std::string base = slash == std::string::npos ? port : port.substr(slash + 1);
    return base.rfind("ttyUSB", 0) == 0 ? base : "ttyUSB0";
}

} // namespace

CheckTransfer::CheckTransfer(int count, Clock clock, int address)
    : m_count(std::max(1, count)), m_address(address), m_clock(std::move(clock))
{}

TransferSummary CheckTransfer::summary() const
{
    TransferSummary summary = m_summary;
    summary.output = m_figures;
    return summary;
}

Step CheckTransfer::start()
{
    m_figures = {};
    m_summary = {};
    Step step = next({});
    step.reports.insert(step.reports.begin(),
                        {ShowText{texts::kTryToCommunicate, StatusColour::Blue}, SetProgress{0, m_count}});
    return step;
}

Step CheckTransfer::reply(std::span<const std::uint8_t> bytes)
{
    if (!m_waiting) return {};
    const std::int64_t tookUs = m_clock() - m_sentUs;
    if (m_draining) {
        // The answer to the request that timed out: it tells how slow the line is, and it
        // must not be taken for the answer to the next one.
        m_draining = false;
        m_figures.lateUs.push_back(tookUs);
        return next({{kFrameSize, "late answer, not counted"}});
    }
    const Frame asked = readRequest(static_cast<std::uint8_t>(m_address));
    std::string meaning;
    if (!hasValidChecksum(bytes)) {
        m_summary.add(ExchangeFault::BadChecksum);
        meaning = faultMeaning(ExchangeFault::BadChecksum);
    } else if (std::equal(asked.begin(), asked.end(), bytes.begin())) {
        m_summary.add(ExchangeFault::Echoed);
        meaning = faultMeaning(ExchangeFault::Echoed);
    } else if (bytes[0] != command::kRead || bytes[1] != m_address) {
        m_summary.add(ExchangeFault::WrongEcho);
        meaning = faultMeaning(ExchangeFault::WrongEcho);
    } else {
        m_figures.roundTripsUs.push_back(tookUs);
        m_figures.values.push_back(bytes[3]);
        ++m_summary.cellsDone;
        meaning = "cell " + std::to_string(m_address) + " = " + std::to_string(bytes[3]);
    }
    return next({{kFrameSize, meaning}});
}

Step CheckTransfer::timeout(std::int64_t /*nowMs*/)
{
    if (!m_waiting) return {};
    if (m_draining) {
        // Quiet for a whole time-out: nothing of the old request is still coming.
        m_draining = false;
        return next({});
    }
    m_summary.add(ExchangeFault::TimeOut);
    m_figures.faults = m_summary.faults;
    // Its reply may still be on the way; wait once more so it cannot meet the next request.
    m_draining = true;
    Step step;
    step.replyBytes = kFrameSize;
    return step;
}

Step CheckTransfer::abort(AbortReason reason)
{
    Step step;
    step.outcome = m_done && m_summary.reason == EndReason::Succeeded ? Outcome::Succeeded : Outcome::Failed;
    if (m_done) return step;
    m_done = true;
    m_waiting = false;
    m_draining = false;
    m_summary.reason = reason == AbortReason::PortLost ? EndReason::PortLost : EndReason::Cancelled;
    m_summary.text = reason == AbortReason::PortLost ? "port lost" : "cancelled";
    m_figures.faults = m_summary.faults;
    step.pause = Pause::FromLastSend;
    return step;
}

Step CheckTransfer::next(std::vector<Taken> taken)
{
    Step step;
    step.taken = std::move(taken);
    m_figures.faults = m_summary.faults;
    if (m_figures.asked == m_count) {
        // The line was measured, whatever it answered; the diagnosis judges it.
        m_done = true;
        m_waiting = false;
        m_summary.reason = EndReason::Succeeded;
        step.outcome = Outcome::Succeeded;
        step.pause = Pause::FromLastSend;
        return step;
    }
    step.reports = {SetProgress{m_figures.asked, std::nullopt}};
    step.send = readRequest(static_cast<std::uint8_t>(m_address));
    step.replyBytes = kFrameSize;
    ++m_figures.asked;
    m_waiting = true;
    m_sentUs = m_clock();
    return step;
}

CheckReport diagnoseLink(const CheckFigures& figures, const std::string& portName)
{
    CheckReport report;
    const auto& rt = figures.roundTripsUs;
    report.minMs = percentileMs(rt, 0);
    report.medianMs = percentileMs(rt, 0.5);
    report.p99Ms = percentileMs(rt, 0.99);
    report.maxMs = percentileMs(rt, 1);
    report.lineMs = kExchangeWireMs + kTurnaroundMs;
    const int echoed = figures.count(ExchangeFault::Echoed);
    const int garbled = figures.count(ExchangeFault::BadChecksum) + figures.count(ExchangeFault::WrongEcho);
    const int failed = figures.count(ExchangeFault::TimeOut) + garbled + echoed;
    const auto late = static_cast<int>(figures.lateUs.size());
    char text[sizeof kLatencyText + 64];
    if (echoed > 0 && echoed * 2 >= figures.asked) {
        report.diagnosis = LineDiagnosis::Echoes;
        report.text = "the port echoes what is sent";
    } else if (figures.answered() == 0 && garbled == 0 && late == 0) {
        report.diagnosis = LineDiagnosis::NoAnswer;
        report.text = "no answer: check the cable and the selector's power";
    } else if (late > 0 && late >= figures.answered()) {
        report.diagnosis = LineDiagnosis::SlowLine;
        std::snprintf(text, sizeof text, kLateText, percentileMs(figures.lateUs, 0.5));
        report.text = text;
    } else if (figures.answered() > 0 && report.medianMs >= report.lineMs + kBufferedMarginMs) {
        const bool ticks = onTicks(report.medianMs);
        report.diagnosis = ticks ? LineDiagnosis::LatencyTimer : LineDiagnosis::SlowLine;
        if (ticks)
            std::snprintf(text, sizeof text, kLatencyText, adapterName(portName).c_str());
        else
            std::snprintf(text, sizeof text, kSlowText, report.medianMs, report.lineMs);
        report.text = text;
    } else if (failed > 0) {
        report.diagnosis = LineDiagnosis::Unreliable;
        report.text = "unreliable line: " + std::to_string(failed) + " of " + std::to_string(figures.asked) +
                      " exchanges failed; check the cable, its length and the selector's power";
    } else {
        report.diagnosis = LineDiagnosis::Healthy;
        report.text = "line healthy";
    }
    return report;
}

} // namespace quarvel::link
