// The session's connection: a serial port by name or path, or the in-process virtual selector.
#include "session/selector_session.h"

#include "image/cell_byte.h"
#include "image/qt/image_file.h"
#include "session/selector_session_private.h"

#include <algorithm>
#include <cstdint>

namespace quarvel::session {

namespace {

const char kVirtualName[] = "virtual selector";
const char kVirtualFailed[] = "The virtual selector could not be started: %1";

} // namespace

bool SelectorSession::openPort(const QString& nameOrPath, QString* error)
{
    const bool opened = m_link.openPort(nameOrPath, error);
    // The link has let go of the virtual selector's port by now; the model goes with it.
    if (opened) releaseVirtual();
    // Whatever answers on it now is yet to be identified.
    if (opened) m_seen.reset();
    emit portChanged();
    return opened;
}

namespace {
// A virtual selector let go of, kept until the event loop comes round again: the port may be
// closed from inside one of its own signals (a station done at the last reply), and the port
// needs its model for as long as it lives. A child of the session, so it goes with it at the
// latest.
class RetiredSelector final : public QObject
{
public:
    RetiredSelector(std::unique_ptr<sim::VirtualSelector> model, std::unique_ptr<sim::VirtualPort> port,
                    QObject* parent)
        : QObject(parent), m_model(std::move(model)), m_port(std::move(port))
    {}

private:
    std::unique_ptr<sim::VirtualSelector> m_model; // destroyed after the port
    std::unique_ptr<sim::VirtualPort> m_port;
};
} // namespace

void SelectorSession::releaseVirtual()
{
    if (!d->port) return;
    d->port->close();
    (new RetiredSelector(std::move(d->model), std::move(d->port), this))->deleteLater();
}

bool SelectorSession::openVirtualSelector(QString* error)
{
    return openVirtualSelector(VirtualSelectorOptions{}, error);
}

bool SelectorSession::openVirtualSelector(const VirtualSelectorOptions& options, QString* error)
{
    // Built and opened before the connection in use is closed, which a failure keeps.
    auto model = std::make_unique<sim::VirtualSelector>();
    if (!options.memoryFile.isEmpty() && !loadMemoryFile(*model, options.memoryFile, error)) return false;
    model->setFaultPlan(options.faults);
    model->setRecordType(options.recordType);
    auto port = std::make_unique<sim::VirtualPort>(*model);
    port->setWireTime(options.wireTime);
    if (!port->open(QIODevice::ReadWrite)) {
        if (error) *error = QString::fromLatin1(kVirtualFailed).arg(port->errorString());
        return false;
    }
    closePort();
    m_seen.reset();
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
        releaseVirtual();
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

bool SelectorSession::insertCoin(int coinType, bool irregular)
{
    return d->port && d->port->insertCoin(coinType, irregular);
}

void SelectorSession::feedCoins(int coinType, int count, bool irregular)
{
    if (!d->feeder) {
        // Every coin asks for the port of the moment: the virtual selector may be reopened.
        d->feeder =
            std::make_unique<sim::CoinFeeder>([this](int type, bool odd) { return insertCoin(type, odd); });
        connect(d->feeder.get(), &sim::CoinFeeder::coinInserted, this, &SelectorSession::coinFed);
        if (d->coinIntervalMs >= 0) d->feeder->setPace(d->coinIntervalMs, d->coinIntervalMs);
    }
    d->feeder->feed(coinType, count, irregular);
}

void SelectorSession::setCoinInterval(int ms)
{
    d->coinIntervalMs = ms;
    if (!d->feeder) return;
    if (ms >= 0)
        d->feeder->setPace(ms, ms);
    else
        d->feeder->setPace(sim::CoinFeeder::kDefaultMinGapMs, sim::CoinFeeder::kDefaultMaxGapMs);
}

void SelectorSession::stopFeeding()
{
    if (d->feeder) d->feeder->stop();
}

bool SelectorSession::isFeeding() const
{
    return d->feeder && d->feeder->isFeeding();
}

int SelectorSession::coinsToCome() const
{
    return d->feeder ? d->feeder->remaining() : 0;
}

} // namespace quarvel::session
