#pragma once

namespace quarvel {

// The sampling window's public values. They belong to whoever opens the window (the main
// window keeps one), so they survive its closing, and storing them does not create it.
struct SamplingState
{
    int cal = 0;       // coins per run; every run sets it to 12 first
    int operation = 0; // 0 teach mode, nonzero (-1) calibration mode
};

} // namespace quarvel
