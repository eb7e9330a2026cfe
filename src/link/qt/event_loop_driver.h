#pragma once

#include "link/qt/line_driver.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <mutex>

class QIODevice;

namespace quarvel::link {

// Serves the line from the owner's event loop: readyRead feeds the engine and a precise
// single-shot timer serves its deadline. For a device already open (the in-process virtual
// port), and for serial ports where there is no line thread.
class EventLoopDriver final : public LineDriver
{
public:
    // The device stays the caller's and must outlive start() to stop().
    EventLoopDriver(QIODevice* device, std::mutex& guard, Events events);
    ~EventLoopDriver() override;

    bool start() override;
    void stop() override;
    void write(const Frame& frame) override;
    void flushInput() override;
    void setDeadline(std::optional<int> ms) override;

private:
    void onReadyRead();
    void onTimer();

    QPointer<QIODevice> m_device;
    std::mutex& m_guard;
    const Events m_events;
    QTimer m_timer;
    QMetaObject::Connection m_readyRead;
};

} // namespace quarvel::link
