#pragma once

#include "sim/delivery_queue.h"
#include "sim/line_schedule.h"
#include "sim/virtual_selector.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QIODevice>
#include <QSerialPort>
#include <QTimer>

#include <optional>

namespace quarvel::sim {

// A VirtualSelector behind a QIODevice, in-process: what the host writes goes to the model,
// and the model's answers come back through readyRead from the event loop, never from inside
// write(). Always unbuffered and sequential, like a serial port.
//
// The model is not owned and must outlive the port; tests and the command line keep it
// beside the port and look into it (memory, log, counts) directly.
class VirtualPort : public QIODevice
{
    Q_OBJECT

public:
    explicit VirtualPort(VirtualSelector& model, QObject* parent = nullptr);
    ~VirtualPort() override;

    VirtualSelector& model() { return m_model; }
    const VirtualSelector& model() const { return m_model; }

    // Line timing as 19200 baud would give it: the request's bytes reach the selector, it
    // turns around, its reply's bytes come back. Off by default: answers come on the next
    // pass of the event loop (plus any delay the model asks for).
    void setWireTime(bool on);
    bool wireTime() const { return m_schedule.wireTime(); }
    void setTurnaroundUs(std::int64_t us) { m_schedule.setTurnaroundUs(us); }
    std::int64_t turnaroundUs() const { return m_schedule.turnaroundUs(); }

    // A coin dropped into the selector: its record is delivered like any reply. False when the
    // model sends nothing (not sampling, gone, unknown coin type).
    bool insertCoin(int coinType, bool irregular = false);
    bool insertCoin(const CoinSample& sample);
    // Unrequested bytes from the selector's side of the line, e.g. noise between transfers.
    void inject(const QByteArray& bytes);

    // True once the port has reported the selector gone; writes fail from then on, and the
    // port cannot be opened again while the model is gone.
    bool hasFailed() const { return m_failed; }

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

signals:
    // Same signature as QSerialPort's, so a driver can connect to either.
    void errorOccurred(QSerialPort::SerialPortError error);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool sendRecord(const std::optional<std::vector<Emission>>& emissions);
    std::int64_t nowUs() const { return m_clock.nsecsElapsed() / 1000; }
    void schedule(std::int64_t atUs, const std::vector<Emission>& emissions);
    void noteGone(std::int64_t atUs);
    void deliverDue();
    void arm();

    VirtualSelector& m_model;
    LineSchedule m_schedule;
    DeliveryQueue m_queue;
    QElapsedTimer m_clock;
    QTimer m_timer;
    QByteArray m_readBuffer;
    std::optional<std::int64_t> m_goneAtUs;
    bool m_failed = false;
};

} // namespace quarvel::sim
