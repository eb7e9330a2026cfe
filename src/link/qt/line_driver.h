#pragma once

#include "link/frame.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace quarvel::link {

// What waits for the port and serves the engine's deadline: the only code that touches the
// line while it runs. SerialLink holds the engine and talks to the port through this alone.
//
// The link's guard orders everything: the driver calls back with it held, and the link calls
// write, flushInput and setDeadline with it held. None of those calls blocks: what the port
// does not take at once waits in the driver. Bytes handed over after a flush came after it.
class LineDriver
{
public:
    using Bytes = std::span<const std::uint8_t>;
    struct Events
    {
        // With the guard held, on the driver's thread.
        std::function<void(Bytes)> bytes;   // read from the port
        std::function<void(Bytes)> dropped; // stale input a flush threw away
        std::function<void()> due;          // the deadline has passed
        std::function<void()> lost;         // the port hung up or failed; it is no longer used
        // Without the guard, after a batch of the above: time for the owner to hear of it.
        std::function<void()> settled;
    };

    virtual ~LineDriver() = default;
    LineDriver() = default;
    LineDriver(const LineDriver&) = delete;
    LineDriver& operator=(const LineDriver&) = delete;

    // False when it could not be set up; nothing is watched then.
    virtual bool start() = 0;
    // Without the guard. Nothing is called back once it returns.
    virtual void stop() = 0;

    // With the guard held, from the owner's thread or inside a callback.
    virtual void write(const Frame& frame) = 0;
    virtual void flushInput() = 0;
    // The engine's deadline, replacing any earlier; nullopt clears it.
    virtual void setDeadline(std::optional<int> ms) = 0;
};

} // namespace quarvel::link
