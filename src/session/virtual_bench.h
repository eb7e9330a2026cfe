#pragma once

#include "sim/coin_types.h"
#include "sim/fault_plan.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace quarvel::sim {
class CoinFeeder;
class VirtualSelector;
class VirtualPort;
} // namespace quarvel::sim

namespace quarvel::session {

class Device;

// How the in-process virtual selector starts: factory memory, or the values of a coin data
// file over it (as programming would send them), with a fault plan and 19200-baud pacing.
struct VirtualSelectorOptions
{
    QString memoryFile; // empty: factory memory
    sim::FaultPlan faults;
    bool wireTime = false;
    std::uint8_t recordType = sim::kDefaultRecordType; // of a regular coin's measurement record
};

// Gives a virtual selector the values of a coin data file over its memory, each as programming
// would send it. False with a message naming the file when it is not usable.
bool loadMemoryFile(sim::VirtualSelector& model, const QString& path, QString* error = nullptr);

// The in-process virtual selector on a Device's port, and a hand that drops coins into it.
class VirtualBench : public QObject
{
    Q_OBJECT

public:
    // The bench of a device, made (as the device's child) the first time it is asked for.
    static VirtualBench& of(Device& device);
    ~VirtualBench() override;

    // Puts a new virtual selector on the device's port, shaped by options; false with a message
    // naming the memory file when it is not a usable coin data file (the connection in use then
    // stays).
    bool open(const VirtualSelectorOptions& options = {}, QString* error = nullptr);
    // Whether the device's port is this bench's virtual selector.
    bool isOpen() const { return m_port != nullptr; }
    sim::VirtualSelector* model() { return m_model.get(); } // null unless isOpen()
    sim::VirtualPort* port() { return m_port.get(); }       // null unless isOpen()

    // A coin dropped into the virtual selector; false when it is not open or not sampling.
    bool insertCoin(int coinType, bool irregular);
    // count coins of a type dropped one after another, as a hand would (each as insertCoin); a
    // new feed replaces one still going.
    void feedCoins(int coinType, int count, bool irregular = false);
    // The time between fed coins; negative: a hand's pace (the feeder's default).
    void setCoinInterval(int ms);
    void stopFeeding();
    bool isFeeding() const;
    int coinsToCome() const;

signals:
    // A coin of a feed went in.
    void coinFed();

private:
    explicit VirtualBench(Device& device);
    void release();

    Device& m_device;
    std::unique_ptr<sim::VirtualSelector> m_model;
    std::unique_ptr<sim::VirtualPort> m_port;
    std::unique_ptr<sim::CoinFeeder> m_feeder;
    int m_coinIntervalMs = -1;
};

} // namespace quarvel::session
