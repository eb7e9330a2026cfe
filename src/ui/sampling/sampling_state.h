#pragma once

namespace quarvel {

// The sampling window's public values. They belong to whoever opens the window (the main
// window keeps one), so they survive its closing, and storing them does not create it.
struct SamplingState
{
    // operation: teach mode (opened from the settings form) or calibration mode (after Open &
    // Program).
    enum class Mode
    {
        Teach,
        Calibration
    };
    Mode operation = Mode::Teach;
};

} // namespace quarvel
