#pragma once

#include "session/reports.h"

#include <ostream>
#include <string>
#include <string_view>

namespace quarvel::cli {

// What a progress text says without its running figure: "programming" for "programming 40%",
// "reading" for "reading cell 12"; other texts as they are. A log that is no terminal gets a
// line only when this changes.
std::string_view progressPhase(std::string_view text);

// Shows what a running transfer reports, on a stream that is normally stderr: a redrawn
// progress bar on a terminal, one line per status text when the stream goes to a file or a
// pipe, or, when quiet, only the text a failed transfer ends with.
class ProgressPrinter
{
public:
    enum class Mode
    {
        Bar,
        Lines,
        Quiet
    };

    ProgressPrinter(std::ostream& out, Mode mode);

    Mode mode() const { return m_mode; }

    void transferStarted();
    void report(const session::Report& report);
    void transferFinished(session::Outcome outcome);

    // What the command is doing ("Reading", "Programming 2/3"). The bar shows it instead of the
    // progress texts, which speak of the desktop window; warnings and errors still show.
    void setPhase(std::string phase);

    // A line of our own (an error, a note): the bar makes room for it first.
    void line(std::string_view text);

    // Nothing more is shown; for an interrupted run whose failure texts would mislead.
    void silence();

private:
    void printLine();
    void redraw();
    void clearBar();

    std::ostream& m_out;
    Mode m_mode;
    bool m_silenced = false;
    bool m_barShown = false;
    std::string m_lastBar;
    int m_value = 0;
    int m_maximum = 0;
    std::string m_text;
    std::string m_phase;
    session::StatusColour m_colour = session::StatusColour::Blue;
    bool m_textPrinted = false;  // the last shown text has already gone out (lines mode)
    bool m_phasePrinted = false; // the phase's one line has gone out (lines mode)
};

} // namespace quarvel::cli
