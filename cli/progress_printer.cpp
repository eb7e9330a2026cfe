#include "progress_printer.h"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace quarvel::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr char kClearLine[] = "\r\033[K";
constexpr char kResetColour[] = "\033[0m";

const char* colourCode(session::StatusColour colour)
{
    switch (colour) {
    case session::StatusColour::Red:
        return "\033[31m";
    case session::StatusColour::Green:
        return "\033[32m";
    case session::StatusColour::Blue:
        break;
    }
    return "\033[34m";
}

} // namespace

std::string_view progressPhase(std::string_view text)
{
    if (const auto cell = text.find(" cell "); cell != std::string_view::npos) return text.substr(0, cell);
    if (text.empty() || text.back() != '%') return text;
    std::size_t start = text.size() - 1;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9')
        --start;
    if (start == text.size() - 1 || start == 0 || text[start - 1] != ' ') return text;
    return text.substr(0, start - 1);
}

ProgressPrinter::ProgressPrinter(std::ostream& out, Mode mode) : m_out(out), m_mode(mode) {}

void ProgressPrinter::transferStarted()
{
    m_value = 0;
    m_maximum = 0;
    m_text.clear();
    m_colour = session::StatusColour::Blue;
    m_textPrinted = false;
}

void ProgressPrinter::report(const session::Report& report)
{
    if (m_silenced) return;
    std::visit(
        [this](const auto& r) {
            using R = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<R, session::ShowText>) {
                m_text = r.text;
                m_colour = r.colour;
                m_textPrinted = false;
                if (m_mode == Mode::Lines) printLine();
            } else if constexpr (std::is_same_v<R, session::SetColour>) {
                m_colour = r.colour;
            } else if constexpr (std::is_same_v<R, session::SetProgress>) {
                m_value = r.value;
                if (r.maximum) m_maximum = *r.maximum;
            }
        },
        report);
    if (m_mode == Mode::Bar) redraw();
}

void ProgressPrinter::transferFinished(session::Outcome outcome)
{
    if (m_silenced) return;
    const bool failed = outcome == session::Outcome::Failed;
    switch (m_mode) {
    case Mode::Bar:
        // A finished transfer closes its window on success; a failure stays readable.
        if (failed && m_barShown) {
            redraw();
            m_out << '\n' << std::flush;
            m_barShown = false;
        } else {
            clearBar();
        }
        break;
    case Mode::Lines:
        break;
    case Mode::Quiet:
        if (failed && !m_textPrinted && m_colour == session::StatusColour::Red && !m_text.empty())
            m_out << m_text << '\n' << std::flush;
        break;
    }
    m_textPrinted = true;
}

void ProgressPrinter::printLine()
{
    m_textPrinted = true;
    // A log gets one line per phase, whatever number of transfers it takes; what went wrong
    // is printed as it comes.
    if (!m_phase.empty() && m_colour == session::StatusColour::Blue) {
        if (m_phasePrinted) return;
        m_phasePrinted = true;
        m_out << m_phase << '\n' << std::flush;
        return;
    }
    m_out << m_text << '\n' << std::flush;
}

void ProgressPrinter::setPhase(std::string phase)
{
    if (phase != m_phase) m_phasePrinted = false;
    m_phase = std::move(phase);
    if (m_mode == Mode::Bar && m_barShown) redraw();
}

void ProgressPrinter::line(std::string_view text)
{
    clearBar();
    m_out << text << '\n' << std::flush;
}

void ProgressPrinter::silence()
{
    clearBar();
    m_silenced = true;
}

void ProgressPrinter::redraw()
{
    const int maximum = std::max(m_maximum, 1);
    const int value = std::clamp(m_value, 0, maximum);
    const int filled = value * kBarWidth / maximum;
    const bool showPhase = !m_phase.empty() && m_colour == session::StatusColour::Blue;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " +
                      std::to_string(value) + "/" + std::to_string(m_maximum) + "  " + colourCode(m_colour) +
                      (showPhase ? m_phase : m_text) + kResetColour;
    // Most reports change nothing visible; a terminal need not be rewritten for them.
    if (m_barShown && bar == m_lastBar) return;
    m_out << kClearLine << bar << std::flush;
    m_lastBar = std::move(bar);
    m_barShown = true;
}

void ProgressPrinter::clearBar()
{
    if (!m_barShown) return;
    m_out << kClearLine << std::flush;
    m_barShown = false;
}

} // namespace quarvel::cli
