#include "read_command.h"

#include "exit_codes.h"
#include "output_file.h"
#include "settings_text.h"

#include "image/coin_data_file.h"
#include "image/default_image.h"

#include <QDir>

#include <iostream>

namespace quarvel::cli {

ReadCommand::ReadCommand(const Invocation& invocation, QObject* parent) : DeviceCommand(invocation, parent)
{
    // As after the desktop program's start-up without a recent file.
    m_session.document().edit(session::ChangeSource::Default,
                              [](ParameterImage& image) { loadMainDefault(image); });
}

void ReadCommand::begin()
{
    // A file that could not be saved must not cost a read first.
    if (const QString problem = outputProblem(m_invocation.outputFile);
        !m_invocation.outputFile.isEmpty() && !problem.isEmpty()) {
        error(problem);
        finish(exit_code::kUsageOrFile);
        return;
    }
    m_printer.setPhase("Reading");
    startRead(&ReadCommand::readFinished);
}

void ReadCommand::readFinished(const session::ReadResult& result)
{
    const bool toFile = !m_invocation.outputFile.isEmpty();
    if (wasInterrupted()) {
        say(toFile ? QStringLiteral("Interrupted: nothing was saved") : QStringLiteral("Interrupted"));
        finish(exit_code::kInterrupted);
        return;
    }
    if (!result.succeeded()) {
        sayFailed(result.message, QStringLiteral("the selector was not read"),
                  toFile ? QStringLiteral("nothing was saved") : QString());
        finish(exitCodeFor(result.reason));
        return;
    }
    const QString cells = QStringLiteral("%1 cells").arg(ParameterImage::kSelectorCells);
    if (!toFile) {
        const SettingsReport report = makeSettingsReport(m_session.document().image());
        std::cout << (m_invocation.json ? settingsJson(report) : settingsText(report)) << std::flush;
        note(QStringLiteral("Read %1").arg(cells));
        finish(exit_code::kSuccess);
        return;
    }
    const QString failed =
        writeOutput(m_invocation.outputFile, serializeCoinData(m_session.document().image()));
    if (!failed.isEmpty()) {
        error(failed);
        finish(exit_code::kUsageOrFile);
        return;
    }
    note(m_invocation.outputFile == QLatin1String(kStandardOutput)
             ? QStringLiteral("Read %1").arg(cells)
             : QStringLiteral("Saved %1 (%2)").arg(QDir::toNativeSeparators(m_invocation.outputFile), cells));
    finish(exit_code::kSuccess);
}

} // namespace quarvel::cli
