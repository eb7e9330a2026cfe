#pragma once

#include "sim/delivery_queue.h"
#include "sim/line_schedule.h"
#include "sim/virtual_selector.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace quarvel::sim {

// Serves a VirtualSelector on a POSIX pseudo-terminal, so that a real QSerialPort (or any
// terminal program) can talk to it through slavePath().
//
// The bridge keeps a descriptor of the slave side open itself: without it, the master reads
// EIO whenever the client has closed the slave, and a client that reopens would find a dead
// line. It never reads that descriptor, so everything the client writes reaches the bridge.
// Bytes the client never read stay in the slave's queue across its close and reopen, as they
// would in a real port's driver; a host flushes them anyway.
//
// A pty has no baud rate: it accepts any setting and moves bytes at once, and it refuses
// DTR/RTS changes. With setWireTime(true) the bridge paces its own output as a 19200-baud
// line would, byte by byte (in practice a couple of bytes a millisecond), and holds back each
// request by its transmission time.
//
// The model is not owned and must outlive the bridge.
class PtyBridge : public QObject
{
    Q_OBJECT

public:
    explicit PtyBridge(VirtualSelector& model, QObject* parent = nullptr);
    ~PtyBridge() override;

    // Creates the pseudo-terminal. On failure returns false and, when error is given, says why.
    bool open(QString* error = nullptr);
    void close();
    bool isOpen() const { return m_master >= 0; }
    // The device path a client opens, e.g. /dev/pts/7; empty while closed.
    QString slavePath() const { return m_slavePath; }

    VirtualSelector& model() { return m_model; }
    const VirtualSelector& model() const { return m_model; }

    void setWireTime(bool on) { m_schedule.setWireTime(on); }
    bool wireTime() const { return m_schedule.wireTime(); }
    void setTurnaroundUs(std::int64_t us) { m_schedule.setTurnaroundUs(us); }
    std::int64_t turnaroundUs() const { return m_schedule.turnaroundUs(); }

    // A coin dropped into the selector; false when the model sends nothing.
    bool insertCoin(int coinType, bool irregular = false);
    bool insertCoin(const CoinSample& sample);

signals:
    // The model has vanished (its fault plan said so). The bridge goes silent but keeps the
    // pty open: an adapter that disappears from the system cannot be emulated on a pty, so a
    // client sees time-outs rather than a port error.
    void gone();

private:
    bool sendRecord(const std::optional<std::vector<Emission>>& emissions);
    std::int64_t nowUs() const { return m_clock.nsecsElapsed() / 1000; }
    void readMaster();
    void schedule(std::int64_t atUs, const std::vector<Emission>& emissions);
    void deliverDue();
    void arm();
    void writeOut(const QByteArray& bytes);
    void flushBacklog();

    VirtualSelector& m_model;
    LineSchedule m_schedule;
    DeliveryQueue m_queue;
    QElapsedTimer m_clock;
    QTimer m_timer;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_backlog; // bytes the master could not take yet
    bool m_goneReported = false;
};

} // namespace quarvel::sim
