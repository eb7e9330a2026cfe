#include "progress_printer.h"

#include "link/transfer_texts.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quarvel::cli {
namespace {

using link::Outcome;
using link::SetColour;
using link::SetProgress;
using link::ShowText;
using link::StatusColour;

// What a read reports when one exchange times out and the budget later runs out.
void failedRead(ProgressPrinter& printer)
{
    printer.transferStarted();
    printer.report(ShowText{link::texts::kTryToCommunicate, StatusColour::Blue});
    printer.report(SetProgress{0, 189});
    printer.report(SetColour{StatusColour::Blue});
    printer.report(SetProgress{0, std::nullopt});
    printer.report(ShowText{link::texts::kTimeOut, StatusColour::Red});
    printer.report(SetColour{StatusColour::Blue});
    printer.report(SetProgress{1, std::nullopt});
    printer.report(ShowText{link::texts::kReadError, StatusColour::Red});
    printer.transferFinished(Outcome::Failed);
}

void goodRead(ProgressPrinter& printer)
{
    printer.transferStarted();
    printer.report(ShowText{link::texts::kTryToCommunicate, StatusColour::Blue});
    printer.report(SetProgress{0, 189});
    printer.report(SetProgress{188, std::nullopt});
    printer.transferFinished(Outcome::Succeeded);
}

TEST(ProgressPrinter, LinesAndQuietModes)
{
    const struct
    {
        ProgressPrinter::Mode mode;
        void (*transfer)(ProgressPrinter&);
        const char* output;
    } cases[] = {
        {ProgressPrinter::Mode::Lines, failedRead,
         "Try to communicate\nCommunication time out !\nRead selector error\n"},
        {ProgressPrinter::Mode::Lines, goodRead, "Try to communicate\n"},
        // One line per phase however many transfers it takes; what went wrong as it came.
        {ProgressPrinter::Mode::Lines,
         [](ProgressPrinter& printer) {
             printer.setPhase("Verifying");
             goodRead(printer);
             goodRead(printer);
             failedRead(printer);
         },
         "Verifying\nCommunication time out !\nRead selector error\n"},
        {ProgressPrinter::Mode::Quiet, failedRead, "Read selector error\n"},
        {ProgressPrinter::Mode::Quiet, goodRead, ""},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        ProgressPrinter printer(out, c.mode);
        c.transfer(printer);
        EXPECT_EQ(out.str(), c.output);
    }
}

TEST(ProgressPrinter, BarIsRedrawnInPlaceClearedOnSuccessAndKeptOnFailure)
{
    std::ostringstream good;
    ProgressPrinter goodPrinter(good, ProgressPrinter::Mode::Bar);
    goodRead(goodPrinter);
    EXPECT_NE(good.str().find("188/189"), std::string::npos);
    EXPECT_EQ(good.str().find('\n'), std::string::npos);
    EXPECT_TRUE(good.str().ends_with("\r\033[K")) << good.str();

    std::ostringstream bad;
    ProgressPrinter badPrinter(bad, ProgressPrinter::Mode::Bar);
    failedRead(badPrinter);
    EXPECT_TRUE(
        bad.str().ends_with("[..............................] 1/189  \033[31mRead selector error\033[0m\n"))
        << bad.str();
}

TEST(ProgressPrinter, OwnLinesClearTheBarAndSilenceStopsReports)
{
    std::ostringstream out;
    ProgressPrinter printer(out, ProgressPrinter::Mode::Bar);
    printer.transferStarted();
    printer.report(SetProgress{5, 10});
    printer.line("quarvelctl read: interrupted");
    EXPECT_TRUE(out.str().ends_with("\r\033[Kquarvelctl read: interrupted\n")) << out.str();

    std::ostringstream quiet;
    ProgressPrinter silenced(quiet, ProgressPrinter::Mode::Lines);
    silenced.silence();
    failedRead(silenced);
    silenced.line("still shown");
    EXPECT_EQ(quiet.str(), "still shown\n");
}

TEST(ProgressPrinter, TheBarShowsThePhaseInsteadOfProgressTextsButKeepsErrors)
{
    std::ostringstream out;
    ProgressPrinter printer(out, ProgressPrinter::Mode::Bar);
    printer.setPhase("Reading");
    failedRead(printer);
    const std::string shown = out.str();
    EXPECT_NE(shown.find("Reading"), std::string::npos) << shown;
    EXPECT_EQ(shown.find(link::texts::kTryToCommunicate), std::string::npos) << shown;
    EXPECT_NE(shown.find(link::texts::kReadError), std::string::npos) << shown;
}

// A log without a terminal gets one line per phase: only the running figure may be cut.
TEST(ProgressPrinter, APhaseIsTheTextWithoutItsFigure)
{
    const struct
    {
        std::string_view text, phase;
    } cases[] = {
        {"COM1  programming 40%", "COM1  programming"},
        {"COM1  programming 100%", "COM1  programming"},
        {"COM1  reading cell 12", "COM1  reading"},
        {"COM1  waiting for the next selector", "COM1  waiting for the next selector"},
        {"50%", "50%"},
        {"COM1  ratio 9x%", "COM1  ratio 9x%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progressPhase(c.text), c.phase) << c.text;
}

} // namespace
} // namespace quarvel::cli
