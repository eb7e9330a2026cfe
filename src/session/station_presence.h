#pragma once

#include "image/parameter_image.h"
#include "session/results.h"

#include <array>
#include <cstdint>
#include <optional>

namespace quarvel::session {

// When a station takes the selector on its port for gone. A single poll is one read with no
// retry, so one lost or garbled answer says nothing: a selector counts as gone only after
// `polls` unanswered polls in a row, with nothing heard from it for at least `ms`.
struct AbsenceRule
{
    int polls = 3;
    std::int64_t ms = 1000;
};

// Poll outcomes in, "gone" out; the time comes from the caller.
class SelectorPresence
{
public:
    explicit SelectorPresence(AbsenceRule rule = {}) : m_rule(rule) {}

    // A selector answered at nowMs: whatever was missed before was a lost answer, not an absence.
    void answered(std::int64_t nowMs);
    // A poll got no answer at nowMs; true once the selector counts as gone.
    bool unanswered(std::int64_t nowMs);
    bool gone() const { return m_gone; }
    // Gone (a station starts empty-handed) or present (a selector was just done, at nowMs).
    void reset(bool gone, std::int64_t nowMs);

private:
    AbsenceRule m_rule;
    int m_missed = 0;
    // When the selector was last heard of; unknown until then, the silence counts from the
    // first miss.
    std::optional<std::int64_t> m_heardMs;
    bool m_gone = false;
};

// What a station knows of the selector it did last: its cells as read, and the ones it
// programmed. Cells 85 and 124..127 are never programmed and tell one selector from another
// (its serial number and second calibration set); the rest tells whether it holds what the
// station left on it.
class SelectorFingerprint
{
public:
    void clear() { m_cells = {}; }
    // A full read: every cell of the selector as it is now.
    void learn(const ParameterImage& read);
    // A programming from sent ended: acknowledged ranges hold sent's bytes, a range written
    // only in part holds something unknown.
    void learnProgrammed(const ParameterImage& sent, const ProgramResult& result);
    // The same selector: its identity cells are known and equal, and so is every other known cell.
    bool matches(const ParameterImage& read) const;

    // The cell a station's n-th poll reads: by turns an identity cell and a cell known from the
    // last read or programming, so that a selector swapped too fast for an absence still shows.
    int pollCell(std::uint64_t n) const;
    // A poll read value from cell: false when that cell is unknown or holds value.
    bool differs(int cell, std::uint8_t value) const;

private:
    std::array<std::optional<std::uint8_t>, ParameterImage::kSelectorCells> m_cells{};
};

} // namespace quarvel::session
