#include "session/selector_session.h"

#include "session/selector_session_private.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "image/qt/image_file.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "link/sampling_transfer.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

namespace quarvel::session {

Operation::Operation(Kind kind, int channel, SelectorSession& session)
    : QObject(&session), m_session(session), m_kind(kind), m_channel(channel)
{}

void Operation::cancel()
{
    if (!m_ended && m_session.current() == this) m_session.cancel();
}

SelectorSession::SelectorSession(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    qRegisterMetaType<quarvel::session::ReadResult>("quarvel::session::ReadResult");
    qRegisterMetaType<quarvel::session::ProgramResult>("quarvel::session::ProgramResult");
    qRegisterMetaType<quarvel::session::SamplingResult>("quarvel::session::SamplingResult");
    qRegisterMetaType<quarvel::link::TrafficEntry>("quarvel::link::TrafficEntry");
    qRegisterMetaType<quarvel::session::DocumentChange>("quarvel::session::DocumentChange");

    connect(&m_link, &link::SerialLink::runFinished, this, [this](bool) {
        if (d->program && m_current)
            programStepEnded();
        else
            finishOperation();
    });
    connect(&m_link, &link::SerialLink::transferStarted, this, [this] {
        // A programming run's steps show as one transfer.
        if (d->program && d->program->next > 1) return;
        toCurrent([](Operation* op) { emit op->transferStarted(); });
    });
    connect(&m_link, &link::SerialLink::reported, this, [this](const link::Report& report) {
        const auto* progress = std::get_if<link::SetProgress>(&report);
        if (!progress || !d->program || d->program->next == 0) {
            toCurrent([report](Operation* op) { emit op->reported(report); });
            return;
        }
        // Each step shows the address about to be read or written: those before it are done.
        // One figure runs over every step of the operation.
        const ProgramRun& run = *d->program;
        const ProgramRun::Step& step = run.current();
        d->rangeProgress = std::clamp(progress->value - step.first, 0, step.last - step.first + 1);
        const link::Report overall =
            link::SetProgress{run.progressBase + d->rangeProgress, run.progressTotal};
        toCurrent([overall](Operation* op) { emit op->reported(overall); });
    });
    connect(&m_link, &link::SerialLink::transferEnded, this, [this](const link::TransferSummary& summary) {
        d->summaries.push_back(summary);
        if (d->program) d->program->last = summary;
        d->rangeProgress = 0;
    });
    connect(&m_link, &link::SerialLink::transferFinished, this, [this](link::Outcome outcome) {
        if (d->program) return; // said once, when the whole operation ends
        toCurrent([outcome](Operation* op) { emit op->transferFinished(outcome); });
    });
    connect(&m_link, &link::SerialLink::portLost, this, [this](const QString& message) {
        d->lostMessage = message;
        emit portLost(message);
        emit portChanged();
    });
    connect(&m_link, &link::SerialLink::traffic, this, &SelectorSession::traffic);
}

SelectorSession::~SelectorSession()
{
    // Quietly: whoever listens may be going away with us.
    m_link.disconnect(this);
    m_link.closePort();
}

bool SelectorSession::isBusy() const
{
    return m_current != nullptr || m_link.isBusy();
}

Started<ReadOperation> SelectorSession::readSelector(ReadInto into)
{
    // Refused before the scratch is touched: a read already running is filling it.
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    // Cells from 189 up are the tool's own; the read only replaces 0..188.
    d->scratch = m_image;
    d->readInto = into;
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>(d->scratch));
    return begin(new ReadOperation(*this), std::move(jobs));
}

Started<ReadOperation> SelectorSession::readIdentity()
{
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    d->scratch = m_image;
    d->readInto = ReadInto::ResultOnly;
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>(d->scratch, address::kSerialNo, 127));
    return begin(new ReadOperation(*this), std::move(jobs));
}

Started<SamplingOperation> SelectorSession::startSampling(int channel)
{
    if (!address::isValidChannel(channel)) return {nullptr, Refusal{Refusal::Kind::BadChannel, channel, {}}};
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    d->samples.clear();
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::SamplingTransfer>(d->samples));
    return begin(new SamplingOperation(channel, *this), std::move(jobs));
}

Started<CheckOperation> SelectorSession::checkLink(int count, int address)
{
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    auto* operation = new CheckOperation(*this);
    const auto clockUs = [] {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    };
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::CheckTransfer>(count, clockUs, operation->m_figures, address));
    return begin(operation, std::move(jobs));
}

std::optional<Refusal> SelectorSession::sendTsmr()
{
    if (auto refusal = refusalToBegin()) return refusal;
    if (!m_link.sendFrame(link::tsmrFrame())) return Refusal{Refusal::Kind::Busy, 0, {}};
    return std::nullopt;
}

void SelectorSession::cancel()
{
    if (!m_current) return;
    if (d->program) {
        // Between two steps (a closing pause, an open question) no transfer is there to end:
        // the flag stops the run before its next step.
        d->program->cancelled = true;
        if (d->program->waiting) {
            d->program->waiting = false;
            endProgramming(link::EndReason::Cancelled);
            return;
        }
    }
    m_link.cancel();
}

std::optional<Refusal> SelectorSession::refusalToBegin() const
{
    if (!isOpen()) return Refusal{Refusal::Kind::NoPort, 0, {}};
    if (isBusy()) return Refusal{Refusal::Kind::Busy, 0, {}};
    return std::nullopt;
}

template <class Op>
Started<Op> SelectorSession::begin(Op* operation, std::vector<std::unique_ptr<link::Transfer>> jobs)
{
    m_current = operation;
    d->summaries.clear();
    d->lostMessage.clear();
    emit busyChanged(true);
    // The run may finish inside this call (a port that is gone); finishOperation then holds
    // the result back until the caller has the handle, as it does what the run reports.
    d->starting = true;
    const bool running = m_link.run(std::move(jobs));
    d->starting = false;
    // Followers hear only of an operation that really started, and still hear all of it.
    if (running) emit operationStarted(operation);
    if (!running) {
        m_current = nullptr;
        operation->m_ended = true;
        operation->deleteLater();
        emit busyChanged(false);
        return {nullptr,
                isOpen() ? Refusal{Refusal::Kind::Busy, 0, {}} : Refusal{Refusal::Kind::NoPort, 0, {}}};
    }
    return {operation, std::nullopt};
}

// Programming starts from a file of its own.
template Started<ProgramOperation> SelectorSession::begin(ProgramOperation*,
                                                          std::vector<std::unique_ptr<link::Transfer>>);

void SelectorSession::toCurrent(const std::function<void(Operation*)>& signal)
{
    if (Operation* operation = m_current) post(operation, [operation, signal] { signal(operation); });
}

void SelectorSession::post(Operation* operation, std::function<void()> signal)
{
    // Inside a start call the caller has no handle yet to listen on: it hears from the next
    // pass of the event loop. Whatever follows while any is still queued queues behind it, so
    // the order holds.
    if (!d->starting && d->queued == 0) {
        signal();
        return;
    }
    ++d->queued;
    QMetaObject::invokeMethod(
        operation,
        [this, signal = std::move(signal)] {
            --d->queued;
            signal();
        },
        Qt::QueuedConnection);
}

QString SelectorSession::failureText() const
{
    if (!d->lostMessage.isEmpty()) return d->lostMessage;
    return d->summaries.empty() ? QString() : QString::fromStdString(d->summaries.back().text);
}

void SelectorSession::finishOperation()
{
    Operation* operation = std::exchange(m_current, nullptr);
    if (!operation) return;
    operation->m_ended = true;
    // The result is taken now, before anyone hears of the end and starts something new.
    std::function<void()> tell;
    bool imageCommitted = false;
    switch (operation->kind()) {
    case Operation::Kind::Read: {
        const ReadResult result = finishRead();
        imageCommitted = result.succeeded() && !result.image;
        tell = [operation, result] { emit static_cast<ReadOperation*>(operation)->finished(result); };
        break;
    }
    case Operation::Kind::Program: {
        ProgramResult result = d->program ? d->program->result : ProgramResult{};
        if (result.verified)
            m_seen = result.readBack;
        else if (d->program && (d->program->memoryRead || d->program->request.exact))
            m_seen = d->program->memory;
        if (result.succeeded() && d->program && !d->program->request.image) m_otherSelector.clear();
        d->program.reset();
        tell = [operation, result] {
            auto* program = static_cast<ProgramOperation*>(operation);
            emit program->transferFinished(result.succeeded() ? link::Outcome::Succeeded
                                                              : link::Outcome::Failed);
            emit program->finished(result);
        };
        break;
    }
    case Operation::Kind::Check: {
        auto* check = static_cast<CheckOperation*>(operation);
        CheckResult result;
        result.reason = d->summaries.empty() ? link::EndReason::PortLost : d->summaries.front().reason;
        result.message = result.succeeded() ? QString() : failureText();
        result.figures = check->m_figures;
        result.report = link::diagnoseLink(result.figures, portName().toStdString());
        tell = [check, result] { emit check->finished(result); };
        break;
    }
    case Operation::Kind::Sampling: {
        const SamplingResult result = finishSampling(operation->channel());
        imageCommitted = result.succeeded();
        tell = [operation, result] { emit static_cast<SamplingOperation*>(operation)->finished(result); };
        break;
    }
    }
    emit busyChanged(false);
    if (imageCommitted)
        announce(operation->kind() == Operation::Kind::Read ? ChangeSource::Read : ChangeSource::Sampling);
    post(operation, [operation, tell] {
        tell();
        emit operation->ended();
        operation->deleteLater();
    });
}

ReadResult SelectorSession::finishRead()
{
    ReadResult result;
    result.reason = d->summaries.empty() ? link::EndReason::PortLost : d->summaries.front().reason;
    if (!d->summaries.empty()) result.faults = d->summaries.front().faults;
    if (result.succeeded()) m_seen = d->scratch;
    if (result.succeeded() && d->readInto == ReadInto::ResultOnly) {
        result.image = d->scratch;
    } else if (result.succeeded()) {
        for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
            m_image.setText(a, d->scratch.text(a));
    } else {
        result.message = d->lostMessage.isEmpty() && !d->summaries.empty()
                             ? readFailureText(d->summaries.front(), 0)
                             : failureText();
    }
    return result;
}

SamplingResult SelectorSession::finishSampling(int channel)
{
    SamplingResult result;
    result.channel = channel;
    result.reason = d->summaries.empty() ? link::EndReason::PortLost : d->summaries.front().reason;
    if (result.succeeded()) {
        result.samples = d->samples;
        std::vector<float> a;
        std::vector<std::int16_t> x, y, dh;
        for (const auto& sample : d->samples) {
            a.push_back(static_cast<float>(sample.a));
            x.push_back(static_cast<std::int16_t>(sample.x));
            y.push_back(static_cast<std::int16_t>(sample.y));
            dh.push_back(static_cast<std::int16_t>(sample.dh));
        }
        result.reference = sampling::ChannelReference::compute(a, x, y, dh);
        if (result.reference) {
            sampling::storeReference(m_image, channel - 1, *result.reference, m_cdt);
            result.successText = QString::fromStdString(result.reference->successText());
        } else {
            result.reason = link::EndReason::Refused;
        }
    }
    result.message = result.succeeded() ? QString() : failureText();
    return result;
}

void SelectorSession::replaceDocument(const ParameterImage& image, ChangeSource source)
{
    m_image = image;
    announce(source);
}

void SelectorSession::announce(ChangeSource source)
{
    std::vector<int> cells;
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
        if (m_image.text(a) != m_announced.text(a)) cells.push_back(a);
    m_announced = m_image;
    const DocumentChange change{std::move(cells), source};
    if (change.replaced()) {
        m_otherSelector.clear();
        m_touched.clear();
        m_modified = false;
    } else if (source != ChangeSource::Stamp && !change.cells.empty()) {
        m_touched.merge(channelsOf(change.cells));
        m_modified = true;
    }
    // A replacement is news even when no cell changed: windows drop what they showed of the old.
    if (!change.cells.empty() || change.replaced()) emit documentChanged(change);
}

} // namespace quarvel::session
