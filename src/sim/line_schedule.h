#pragma once

#include <cstddef>
#include <cstdint>

namespace quarvel::sim {

// Timing of a 19200-baud line, ten bits a byte, in microseconds. With wire time off every
// transmission takes no time and nothing waits for the line.
class LineSchedule
{
public:
    static constexpr std::int64_t kBaud = 19200;
    static constexpr std::int64_t kBitsPerByte = 10;
    static constexpr std::int64_t kDefaultTurnaroundUs = 1000;

    // How long `bytes` bytes occupy the line, rounded up to whole microseconds (5 bytes: 2605).
    static constexpr std::int64_t wireTimeUs(std::size_t bytes)
    {
        const auto bits = static_cast<std::int64_t>(bytes) * kBitsPerByte * 1000000;
        return (bits + kBaud - 1) / kBaud;
    }

    struct Slot
    {
        std::int64_t startUs; // first bit on the line
        std::int64_t endUs;   // last byte complete at the far end
    };

    void setWireTime(bool on) { m_wireTime = on; }
    bool wireTime() const { return m_wireTime; }
    // The device's pause between a complete request and the first byte of its answer.
    void setTurnaroundUs(std::int64_t us) { m_turnaroundUs = us; }
    std::int64_t turnaroundUs() const { return m_turnaroundUs; }

    // The host writes `bytes` bytes at nowUs: when the device has the last of them.
    std::int64_t requestArrivalUs(std::int64_t nowUs, std::size_t bytes);
    // The device means to start sending `bytes` bytes `delayUs` after atUs (the arrival of what
    // it answers, or now for unrequested data); the turnaround is added with wire time on, and
    // the transmission waits for the device's line to be free.
    Slot placeReply(std::int64_t atUs, std::int64_t delayUs, std::size_t bytes);

    void reset();

private:
    bool m_wireTime = false;
    std::int64_t m_turnaroundUs = kDefaultTurnaroundUs;
    std::int64_t m_hostLineFreeUs = 0;
    std::int64_t m_deviceLineFreeUs = 0;
};

} // namespace quarvel::sim
