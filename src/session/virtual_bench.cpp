#include "session/virtual_bench.h"

#include "image/cell_byte.h"
#include "image/qt/image_file.h"
#include "session/device.h"
#include "sim/qt/coin_feeder.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quarvel::session {

namespace {

const char kVirtualName[] = "virtual selector";
const char kVirtualFailed[] = "The virtual selector could not be started: %1";

// A virtual selector let go of, kept until the event loop comes round again: the port may be
// closed from inside one of its own signals (a station done at the last reply), and the port
// needs its model for as long as it lives. A child of the bench, so it goes with it at the
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

bool loadMemoryFile(sim::VirtualSelector& model, const QString& path, QString* error)
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

VirtualBench::VirtualBench(Device& device) : QObject(&device), m_device(device) {}

VirtualBench& VirtualBench::of(Device& device)
{
    if (auto* bench = device.findChild<VirtualBench*>(QString(), Qt::FindDirectChildrenOnly)) return *bench;
    return *new VirtualBench(device);
}

// A child of its device: the device has let go of the port (and called release()) by now.
VirtualBench::~VirtualBench() = default;

bool VirtualBench::open(const VirtualSelectorOptions& options, QString* error)
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
    // The device lets go of the old one (and calls release()) before it takes the new one.
    m_device.closePort();
    m_model = std::move(model);
    m_port = std::move(port);
    m_device.attach(m_port.get(), QString::fromLatin1(kVirtualName), [this] { release(); });
    return true;
}

void VirtualBench::release()
{
    if (!m_port) return;
    m_port->close();
    (new RetiredSelector(std::move(m_model), std::move(m_port), this))->deleteLater();
}

bool VirtualBench::insertCoin(int coinType, bool irregular)
{
    return m_port && m_port->insertCoin(coinType, irregular);
}

void VirtualBench::feedCoins(int coinType, int count, bool irregular)
{
    if (!m_feeder) {
        // Every coin asks for the port of the moment: the virtual selector may be reopened.
        m_feeder =
            std::make_unique<sim::CoinFeeder>([this](int type, bool odd) { return insertCoin(type, odd); });
        connect(m_feeder.get(), &sim::CoinFeeder::coinInserted, this, &VirtualBench::coinFed);
        if (m_coinIntervalMs >= 0) m_feeder->setPace(m_coinIntervalMs, m_coinIntervalMs);
    }
    m_feeder->feed(coinType, count, irregular);
}

void VirtualBench::setCoinInterval(int ms)
{
    m_coinIntervalMs = ms;
    if (!m_feeder) return;
    if (ms >= 0)
        m_feeder->setPace(ms, ms);
    else
        m_feeder->setPace(sim::CoinFeeder::kDefaultMinGapMs, sim::CoinFeeder::kDefaultMaxGapMs);
}

void VirtualBench::stopFeeding()
{
    if (m_feeder) m_feeder->stop();
}

bool VirtualBench::isFeeding() const
{
    return m_feeder && m_feeder->isFeeding();
}

int VirtualBench::coinsToCome() const
{
    return m_feeder ? m_feeder->remaining() : 0;
}

} // namespace quarvel::session
