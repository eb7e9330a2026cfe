#include "session/selector_session.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "image/qt/image_file.h"
#include "link/program_transfer.h"
#include "link/read_transfer.h"
#include "link/sampling_transfer.h"
#include "sampling/sampling_output.h"
#include "session/guarded_job.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"

#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace quarvel::session {

namespace {

const char kVirtualName[] = "virtual selector";
const char kVirtualFailed[] = "The virtual selector could not be started: %1";
const char kBadChannel[] = "There is no coin channel %1; channels are 1 to 12.";

enum Operation : int
{
    None,
    Read,
    Program,
    Sampling
};

QString plural(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

// "5 time-outs", "3 time-outs, 2 bad checksums", "port lost".
QString whyNotProgrammed(const RangeResult& range)
{
    switch (range.reason) {
    case link::EndReason::Cancelled:
        return QStringLiteral("cancelled");
    case link::EndReason::PortLost:
        return QStringLiteral("port lost");
    case link::EndReason::Refused:
        return QStringLiteral("refused");
    default:
        break;
    }
    QStringList parts;
    const auto count = [&](link::ExchangeFault fault) {
        return range.faults[static_cast<std::size_t>(fault)];
    };
    if (const int n = count(link::ExchangeFault::TimeOut)) parts << plural(n, "time-out", "time-outs");
    if (const int n = count(link::ExchangeFault::BadChecksum))
        parts << plural(n, "bad checksum", "bad checksums");
    if (const int n = count(link::ExchangeFault::WrongEcho)) parts << plural(n, "wrong echo", "wrong echoes");
    if (const int n = count(link::ExchangeFault::Echoed))
        parts << plural(n, "echoed request", "echoed requests");
    return parts.isEmpty() ? QStringLiteral("failed") : parts.join(QStringLiteral(", "));
}

} // namespace

struct SelectorSession::Private
{
    std::unique_ptr<sim::VirtualSelector> model;
    std::unique_ptr<sim::VirtualPort> port;

    Operation operation = Operation::None;
    std::shared_ptr<bool> cancelled;
    std::vector<std::shared_ptr<JobRecord>> records;
    QString lastRedText;
    QString lostMessage;

    ParameterImage scratch;  // a read lands here first
    ParameterImage snapshot; // what programming sends
    int channel = 0;
    std::vector<sampling::Sample> samples;
};

int ProgramResult::cellsInRanges()
{
    int cells = 0;
    for (const auto& range : link::kProgramRanges)
        cells += range.last - range.first + 1;
    return cells;
}

bool ProgramResult::succeeded() const
{
    if (ranges.size() != link::kProgramRanges.size()) return false;
    return std::all_of(ranges.begin(), ranges.end(),
                       [](const RangeResult& r) { return r.reason == link::EndReason::Succeeded; });
}

int ProgramResult::cellsWritten() const
{
    int cells = 0;
    for (const auto& range : ranges)
        cells += range.cellsWritten;
    return cells;
}

QString ProgramResult::failureSummary() const
{
    QStringList lines;
    for (std::size_t i = 0; i < link::kProgramRanges.size(); ++i) {
        const auto& expected = link::kProgramRanges[i];
        if (i >= ranges.size()) {
            lines << QStringLiteral("cells %1-%2 not programmed (not reached)")
                         .arg(expected.first)
                         .arg(expected.last);
            continue;
        }
        const RangeResult& range = ranges[i];
        if (range.reason == link::EndReason::Succeeded) continue;
        // Cells before the failing one were acknowledged; the rest of the range was not sent.
        const int from = std::min(range.first + range.cellsWritten, range.last);
        lines << QStringLiteral("cells %1-%2 not programmed (%3)")
                     .arg(from)
                     .arg(range.last)
                     .arg(whyNotProgrammed(range));
    }
    return lines.join(QStringLiteral("; "));
}

SelectorSession::SelectorSession(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    qRegisterMetaType<quarvel::session::ReadResult>("quarvel::session::ReadResult");
    qRegisterMetaType<quarvel::session::ProgramResult>("quarvel::session::ProgramResult");
    qRegisterMetaType<quarvel::session::SamplingResult>("quarvel::session::SamplingResult");
    qRegisterMetaType<quarvel::link::TrafficEntry>("quarvel::link::TrafficEntry");

    connect(&m_link, &link::SerialLink::runFinished, this, [this](bool) { finishOperation(); });
    connect(&m_link, &link::SerialLink::reported, this, [this](const link::Report& report) {
        if (const auto* text = std::get_if<link::ShowText>(&report)) {
            if (text->colour == link::StatusColour::Red) d->lastRedText = QString::fromStdString(text->text);
        } else if (const auto* progress = std::get_if<link::SetProgress>(&report)) {
            if (d->operation == Operation::Sampling) emit samplingProgress(d->channel, progress->value);
        }
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

bool SelectorSession::openPort(const QString& nameOrPath, QString* error)
{
    closePort();
    const bool opened = m_link.openPort(nameOrPath, error);
    emit portChanged();
    return opened;
}

bool SelectorSession::openVirtualSelector(QString* error)
{
    return openVirtualSelector(VirtualSelectorOptions{}, error);
}

bool SelectorSession::openVirtualSelector(const VirtualSelectorOptions& options, QString* error)
{
    closePort();
    auto model = std::make_unique<sim::VirtualSelector>();
    if (!options.memoryFile.isEmpty() && !loadMemoryFile(*model, options.memoryFile, error)) return false;
    model->setFaultPlan(options.faults);
    auto port = std::make_unique<sim::VirtualPort>(*model);
    port->setWireTime(options.wireTime);
    if (!port->open(QIODevice::ReadWrite)) {
        if (error) *error = QString::fromLatin1(kVirtualFailed).arg(port->errorString());
        return false;
    }
    d->model = std::move(model);
    d->port = std::move(port);
    m_link.attachDevice(d->port.get(), QString::fromLatin1(kVirtualName));
    emit portChanged();
    return true;
}

bool SelectorSession::loadMemoryFile(sim::VirtualSelector& model, const QString& path, QString* error)
{
    const ImageFileRead read = readImageFile(path);
    if (!read.file) {
        if (error) *error = read.error;
        return false;
    }
    // Each value as programming would send it, so the selector holds what a real one
    // programmed from the same file would.
    const std::size_t count =
        std::min<std::size_t>(read.file->values.size(), sim::VirtualSelector::kCellCount);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes.push_back(cellByte(read.file->values[i]));
    model.loadMemory(bytes);
    return true;
}

void SelectorSession::closePort()
{
    // The link lets go of the device (ending a running operation) before the device goes.
    m_link.closePort();
    if (d->port) {
        d->port->close();
        d->port.reset();
        d->model.reset();
        emit portChanged();
    }
}

bool SelectorSession::isOpen() const
{
    return m_link.isOpen();
}

QString SelectorSession::portName() const
{
    return m_link.portName();
}

bool SelectorSession::isVirtual() const
{
    return d->port != nullptr;
}

sim::VirtualSelector* SelectorSession::virtualSelector()
{
    return d->model.get();
}

sim::VirtualPort* SelectorSession::virtualPort()
{
    return d->port.get();
}

bool SelectorSession::isBusy() const
{
    return d->operation != Operation::None || m_link.isBusy();
}

int SelectorSession::samplingChannel() const
{
    return d->operation == Operation::Sampling ? d->channel : 0;
}

bool SelectorSession::readSelector(QString* refusal)
{
    // Refused before the scratch is touched: a read already running is filling it.
    if (!canBegin(refusal)) return false;
    // Cells from 189 up are the tool's own; the read only replaces 0..188.
    d->scratch = m_image;
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::ReadTransfer>(d->scratch));
    return begin(Operation::Read, std::move(jobs), refusal);
}

bool SelectorSession::programSelector(QString* refusal)
{
    if (!canBegin(refusal)) return false;
    // The event loop stays live while programming runs: an edit made meanwhile must not reach
    // the selector half-way through, so the ranges are sent from a copy.
    d->snapshot = m_image;
    link::stampFixedCells(d->snapshot);
    link::stampFixedCells(m_image);
    std::vector<std::unique_ptr<link::Transfer>> jobs = link::programJobs(d->snapshot);
    const bool started = begin(Operation::Program, std::move(jobs), refusal);
    if (started) emit imageChanged();
    return started;
}

bool SelectorSession::startSampling(int channel, QString* refusal)
{
    if (!address::isValidChannel(channel)) {
        if (refusal) *refusal = QString::fromLatin1(kBadChannel).arg(channel);
        return false;
    }
    if (!canBegin(refusal)) return false;
    d->channel = channel;
    d->samples.clear();
    std::vector<std::unique_ptr<link::Transfer>> jobs;
    jobs.push_back(std::make_unique<link::SamplingTransfer>(d->samples));
    return begin(Operation::Sampling, std::move(jobs), refusal);
}

bool SelectorSession::sendTsmr(QString* refusal)
{
    if (!canBegin(refusal)) return false;
    return m_link.sendFrame(link::tsmrFrame(), refusal);
}

void SelectorSession::cancel()
{
    if (d->operation == Operation::None) return;
    *d->cancelled = true;
    m_link.cancel();
}

bool SelectorSession::canBegin(QString* refusal) const
{
    if (!isOpen()) {
        if (refusal) *refusal = link::SerialLink::noPortText();
        return false;
    }
    if (isBusy()) {
        if (refusal) *refusal = link::SerialLink::busyText();
        return false;
    }
    return true;
}

bool SelectorSession::begin(int operation, std::vector<std::unique_ptr<link::Transfer>> jobs,
                            QString* refusal)
{
    if (!canBegin(refusal)) return false;
    d->operation = static_cast<Operation>(operation);
    d->cancelled = std::make_shared<bool>(false);
    d->records.clear();
    d->lastRedText.clear();
    d->lostMessage.clear();
    std::vector<std::unique_ptr<link::Transfer>> guarded;
    for (auto& job : jobs) {
        d->records.push_back(std::make_shared<JobRecord>());
        guarded.push_back(std::make_unique<GuardedJob>(std::move(job), d->cancelled, d->records.back()));
    }
    emit busyChanged(true);
    // The run may finish inside this call (a port that is gone); finishOperation then reports.
    if (!m_link.run(std::move(guarded), refusal)) {
        d->operation = Operation::None;
        emit busyChanged(false);
        return false;
    }
    return true;
}

void SelectorSession::finishOperation()
{
    const Operation operation = std::exchange(d->operation, Operation::None);
    if (operation == Operation::None) return;
    const auto reasonOf = [this](std::size_t job) {
        if (job >= d->records.size() || !d->records[job]->ended) return link::EndReason::PortLost;
        return d->records[job]->summary.reason;
    };
    const QString failureText = !d->lostMessage.isEmpty() ? d->lostMessage : d->lastRedText;

    switch (operation) {
    case Operation::Read: {
        ReadResult result;
        result.reason = reasonOf(0);
        if (result.succeeded()) {
            for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
                m_image.setText(a, d->scratch.text(a));
        } else {
            result.message = failureText;
        }
        emit busyChanged(false);
        if (result.succeeded()) emit imageChanged();
        emit readFinished(result);
        break;
    }
    case Operation::Program: {
        ProgramResult result;
        for (std::size_t i = 0; i < d->records.size() && i < link::kProgramRanges.size(); ++i) {
            const JobRecord& record = *d->records[i];
            if (!record.started) continue;
            RangeResult range;
            range.first = link::kProgramRanges[i].first;
            range.last = link::kProgramRanges[i].last;
            range.reason = record.ended ? record.summary.reason : link::EndReason::PortLost;
            range.cellsWritten = record.summary.cellsDone;
            range.faults = record.summary.faults;
            result.ranges.push_back(range);
        }
        emit busyChanged(false);
        emit programFinished(result);
        break;
    }
    case Operation::Sampling: {
        SamplingResult result;
        result.channel = d->channel;
        result.reason = reasonOf(0);
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
                sampling::storeReference(m_image, d->channel - 1, *result.reference, m_cdt);
                result.successText = QString::fromStdString(result.reference->successText());
            } else {
                result.reason = link::EndReason::Refused;
            }
        }
        result.message = result.succeeded() ? QString() : failureText;
        d->channel = 0;
        emit busyChanged(false);
        if (result.succeeded()) emit imageChanged();
        emit samplingFinished(result);
        break;
    }
    case Operation::None:
        break;
    }
}

} // namespace quarvel::session
