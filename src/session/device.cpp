#include "session/device.h"

#include "session/device_program.h"
#include "session/port_advice.h"

#include "history/history_recorder.h"
#include "session/port_identity.h"

#include "image/address_map.h"
#include "link/qt/serial_link.h"
#include "link/read_transfer.h"
#include "link/sampling_transfer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

namespace quarvel::session {

namespace {

// The USB adapter behind a port as the history names it: "0403:6001 A1B2C3"; "" for others.
QString adapterText(const QString& port)
{
    const PortIdentity identity = PortIdentity::of(port);
    if (!identity.usb) return {};
    return QStringLiteral("%1:%2 %3")
        .arg(identity.vendor, 4, 16, QLatin1Char('0'))
        .arg(identity.product, 4, 16, QLatin1Char('0'))
        .arg(identity.serialNumber)
        .trimmed();
}

OperationFacts factsOf(const QString& operation)
{
    OperationFacts facts;
    facts.operation = operation;
    return facts;
}

} // namespace

Operation::Operation(Kind kind, int channel, Device& device)
    : QObject(&device), m_device(device), m_kind(kind), m_channel(channel)
{}

void Operation::cancel()
{
    if (!m_ended && m_device.current() == this) m_device.cancel();
}

Device::Device(QObject* parent) : QObject(parent), m_link(std::make_unique<link::SerialLink>())
{
    qRegisterMetaType<quarvel::session::ReadResult>("quarvel::session::ReadResult");
    qRegisterMetaType<quarvel::session::ProgramResult>("quarvel::session::ProgramResult");
    qRegisterMetaType<quarvel::session::SamplingResult>("quarvel::session::SamplingResult");
    qRegisterMetaType<quarvel::link::TrafficEntry>("quarvel::link::TrafficEntry");

    link::SerialLink* line = m_link.get();
    connect(line, &link::SerialLink::runFinished, this, [this](bool) {
        if (!m_program) return finishOperation();
        feedProgram([this](ProgramPlan& p) { return p.transferEnded(m_program->last); });
    });
    connect(line, &link::SerialLink::transferStarted, this, [this] {
        // A programming run's steps show as one transfer.
        if (m_program && std::exchange(m_program->started, true)) return;
        toCurrent([](Operation* op) { emit op->transferStarted(); });
    });
    connect(line, &link::SerialLink::reported, this, [this](const link::Report& report) {
        // Programming shows one progress figure over all its steps, the plan's.
        const auto* progress = std::get_if<link::SetProgress>(&report);
        if (progress && m_program)
            return feedProgram([&](ProgramPlan& p) { return p.progress(progress->value); });
        toCurrent([report](Operation* op) { emit op->reported(report); });
    });
    connect(line, &link::SerialLink::transferEnded, this, [this](const link::TransferSummary& summary) {
        m_summaries.push_back(summary);
        if (!m_program) return;
        m_program->last = summary;
    });
    connect(line, &link::SerialLink::transferFinished, this, [this](link::Outcome outcome) {
        if (m_program) return; // said once, when the whole operation ends
        toCurrent([outcome](Operation* op) { emit op->transferFinished(outcome); });
    });
    connect(line, &link::SerialLink::portLost, this, [this](const QString& message) {
        m_lostMessage = message;
        feedProgram([&](ProgramPlan& p) { return p.portLost(message); });
        emit portLost(message);
        emit portChanged();
    });
    connect(line, &link::SerialLink::traffic, this, &Device::traffic);
}

Device::~Device()
{
    // Quietly: whoever listens may be going away with us.
    m_link->disconnect(this);
    m_link->closePort();
    letGo();
}

bool Device::openPort(const QString& nameOrPath, QString* error)
{
    const bool opened = m_link->openPort(nameOrPath, error);
    if (!opened && error) *error = portOpenAdvice(nameOrPath, *error);
    if (opened) {
        // The link has let go of an attached device by now.
        letGo();
        // Whatever answers on it now is yet to be identified.
        m_seen.reset();
        m_adapter = m_history ? adapterText(nameOrPath) : QString();
    }
    emit portChanged();
    return opened;
}

void Device::attach(QIODevice* device, const QString& name, std::function<void()> released)
{
    closePort();
    m_seen.reset();
    m_link->attachDevice(device, name);
    m_released = std::move(released);
    emit portChanged();
}

void Device::closePort()
{
    // The link lets go of the device (ending a running operation) before the device goes.
    m_link->closePort();
    if (m_released) {
        letGo();
        emit portChanged();
    }
}

void Device::letGo()
{
    if (auto released = std::exchange(m_released, nullptr)) released();
}

bool Device::isOpen() const
{
    return m_link->isOpen();
}

QString Device::portName() const
{
    return m_link->portName();
}

bool Device::lowLatency() const
{
    return m_link->lowLatency();
}

bool Device::isBusy() const
{
    return m_current != nullptr || m_link->isBusy();
}

Started<ReadOperation> Device::read(int first, int last)
{
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>(first, last));
    m_fullRead = first == 0 && last == ParameterImage::kSelectorCells - 1;
    return begin(new ReadOperation(*this), std::move(jobs));
}

Started<SamplingOperation> Device::startSampling(int channel)
{
    if (!address::isValidChannel(channel)) return {nullptr, Refusal{Refusal::Kind::BadChannel, channel, {}}};
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::SamplingTransfer>());
    return begin(new SamplingOperation(channel, *this), std::move(jobs));
}

Started<CheckOperation> Device::checkLink(int count, int address)
{
    if (auto refusal = refusalToBegin()) return {nullptr, refusal};
    const auto clockUs = [] {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    };
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::CheckTransfer>(count, clockUs, address));
    return begin(new CheckOperation(*this), std::move(jobs));
}

std::optional<Refusal> Device::sendTsmr()
{
    if (auto refusal = refusalToBegin()) return refusal;
    if (!m_link->sendFrame(link::tsmrFrame())) return Refusal{Refusal::Kind::Busy, 0, {}};
    return std::nullopt;
}

void Device::cancel()
{
    if (!m_current) return;
    // Programming may be between two steps (a closing pause, an open question): its plan knows.
    if (m_program) return feedProgram([](ProgramPlan& p) { return p.cancel(); });
    m_link->cancel();
}

std::optional<Refusal> Device::refusalToBegin() const
{
    if (!isOpen()) return Refusal{Refusal::Kind::NoPort, 0, {}};
    if (isBusy()) return Refusal{Refusal::Kind::Busy, 0, {}};
    return std::nullopt;
}

template <class Op>
Started<Op> Device::begin(Op* operation, std::vector<std::unique_ptr<link::Transfer>> jobs)
{
    m_current = operation;
    m_clock.start();
    m_summaries.clear();
    m_lostMessage.clear();
    emit busyChanged(true);
    // The run may finish inside this call (a port that is gone); finishOperation then holds
    // the result back until the caller has the handle, as it does what the run reports.
    m_starting = true;
    const bool running = m_link->run(std::move(jobs));
    m_starting = false;
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
template Started<ProgramOperation> Device::begin(ProgramOperation*,
                                                 std::vector<std::unique_ptr<link::Transfer>>);

void Device::toCurrent(const std::function<void(Operation*)>& signal)
{
    if (Operation* operation = m_current) post(operation, [operation, signal] { signal(operation); });
}

void Device::post(Operation* operation, std::function<void()> signal)
{
    // Inside a start call the caller has no handle yet to listen on: it hears from the next
    // pass of the event loop. Whatever follows while any is still queued queues behind it, so
    // the order holds.
    if (!m_starting && m_queued == 0) {
        signal();
        return;
    }
    ++m_queued;
    QMetaObject::invokeMethod(
        operation,
        [this, signal = std::move(signal)] {
            --m_queued;
            signal();
        },
        Qt::QueuedConnection);
}

QString Device::failureText() const
{
    if (!m_lostMessage.isEmpty()) return m_lostMessage;
    return m_summaries.empty() ? QString() : QString::fromStdString(m_summaries.back().text);
}

void Device::finishOperation()
{
    Operation* operation = std::exchange(m_current, nullptr);
    if (!operation) return;
    operation->m_ended = true;
    // The result is taken now, before anyone hears of the end and starts something new.
    std::function<void()> tell;
    // Made now, written once the result has been told: whoever waits for it does not wait for
    // the history, and the record goes to the recorder's own thread.
    std::optional<history::HistoryRecord> entry;
    switch (operation->kind()) {
    case Operation::Kind::Read: {
        ReadResult result = finishRead();
        if (m_fullRead && m_place.reads) entry = historyRecord(result, factsOf(QStringLiteral("read")));
        tell = [operation, result = std::move(result)] {
            emit static_cast<ReadOperation*>(operation)->finished(result);
        };
        break;
    }
    case Operation::Kind::Program: {
        OperationFacts facts = m_program ? m_program->facts : OperationFacts{};
        ProgramResult result = finishProgram();
        entry = historyRecord(result, std::move(facts));
        tell = [operation, result = std::move(result)] {
            auto* program = static_cast<ProgramOperation*>(operation);
            emit program->transferFinished(result.succeeded() ? link::Outcome::Succeeded
                                                              : link::Outcome::Failed);
            emit program->finished(result);
        };
        break;
    }
    case Operation::Kind::Check:
        tell = [operation, result = finishCheck()] {
            emit static_cast<CheckOperation*>(operation)->finished(result);
        };
        break;
    case Operation::Kind::Sampling: {
        SamplingResult result = finishSampling(operation->channel());
        entry = historyRecord(result, factsOf(QStringLiteral("teach")));
        tell = [operation, result = std::move(result)] {
            emit static_cast<SamplingOperation*>(operation)->finished(result);
        };
        break;
    }
    }
    emit busyChanged(false);
    post(operation, [this, operation, tell, entry = std::move(entry)] {
        tell();
        record(entry);
        emit operation->ended();
        operation->deleteLater();
    });
}

void Device::setHistory(history::HistoryRecorder* recorder, const HistoryPlace& place)
{
    m_history = recorder;
    m_place = place;
    if (recorder && isOpen()) m_adapter = adapterText(portName());
}

template <class Result>
std::optional<history::HistoryRecord> Device::historyRecord(const Result& result, OperationFacts facts) const
{
    if (!m_history) return std::nullopt;
    facts.port = portName();
    facts.adapter = m_adapter;
    facts.station = m_place.station;
    facts.durationMs = m_clock.elapsed();
    return historyRecordOf(result, facts);
}

void Device::record(const std::optional<history::HistoryRecord>& entry)
{
    if (entry && m_history) m_history->record(*entry);
}

template <class Output> const Output* Device::outputOf() const
{
    return m_summaries.empty() ? nullptr : std::get_if<Output>(&m_summaries.front().output);
}

ReadResult Device::finishRead()
{
    ReadResult result;
    result.reason = m_summaries.empty() ? link::EndReason::PortLost : m_summaries.front().reason;
    if (!m_summaries.empty()) result.faults = m_summaries.front().faults;
    if (result.succeeded()) {
        result.image = ParameterImage();
        if (const auto* cells = outputOf<link::ReadCells>()) link::store(*cells, *result.image);
        m_seen = result.image;
    } else {
        result.message = m_lostMessage.isEmpty() && !m_summaries.empty()
                             ? readFailureText(m_summaries.front(), 0)
                             : failureText();
    }
    return result;
}

CheckResult Device::finishCheck()
{
    CheckResult result;
    result.reason = m_summaries.empty() ? link::EndReason::PortLost : m_summaries.front().reason;
    result.message = result.succeeded() ? QString() : failureText();
    if (const auto* figures = outputOf<link::CheckFigures>()) result.figures = *figures;
    result.report = link::diagnoseLink(result.figures, portName().toStdString());
    return result;
}

SamplingResult Device::finishSampling(int channel)
{
    SamplingResult result;
    result.channel = channel;
    result.reason = m_summaries.empty() ? link::EndReason::PortLost : m_summaries.front().reason;
    if (result.succeeded()) {
        if (const auto* samples = outputOf<std::vector<sampling::Sample>>()) result.samples = *samples;
        std::vector<float> a;
        std::vector<std::int16_t> x, y, dh;
        for (const auto& sample : result.samples) {
            a.push_back(static_cast<float>(sample.a));
            x.push_back(static_cast<std::int16_t>(sample.x));
            y.push_back(static_cast<std::int16_t>(sample.y));
            dh.push_back(static_cast<std::int16_t>(sample.dh));
        }
        result.reference = sampling::ChannelReference::compute(a, x, y, dh);
        if (result.reference)
            result.successText = QString::fromStdString(result.reference->successText());
        else
            result.reason = link::EndReason::Refused;
    }
    result.message = result.succeeded() ? QString() : failureText();
    return result;
}

} // namespace quarvel::session
