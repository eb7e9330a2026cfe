#include "teach_command.h"

#include "exit_codes.h"
#include "output_file.h"

#include "image/coin_data_file.h"
#include "image/default_image.h"
#include "sampling/channel_reference.h"
#include "sampling/teach_quality.h"

#include <QDir>

#include <iostream>

namespace quarvel::cli {

TeachCommand::TeachCommand(const Invocation& invocation, QObject* parent) : DeviceCommand(invocation, parent)
{}

std::optional<int> TeachCommand::check()
{
    if (m_invocation.fromFile.isEmpty()) {
        loadMainDefault(m_start);
        return std::nullopt;
    }
    // Checked before the run, so a refusal costs the technician no coins.
    if (m_invocation.programAfter)
        if (const auto refused = checkBackupTarget(m_invocation.fromFile)) return refused;
    if (m_invocation.programAfter) {
        ImageFile file;
        if (const auto refused = loadProgrammable(m_invocation.fromFile, file)) return refused;
        m_start = std::move(file.image);
        return std::nullopt;
    }
    const session::CoinDataCheck check = session::checkCoinDataFile(m_invocation.fromFile, false);
    if (!check) {
        error(session::refusalText(*check.refusal));
        return exit_code::kUsageOrFile;
    }
    if (const QString note = shortFileNote(m_invocation.fromFile, *check.file); !note.isEmpty()) error(note);
    m_start = check.file->image;
    return std::nullopt;
}

void TeachCommand::begin()
{
    if (const QString problem = outputProblem(m_invocation.outputFile);
        !m_invocation.outputFile.isEmpty() && !problem.isEmpty()) {
        error(problem);
        finish(exit_code::kUsageOrFile);
        return;
    }
    m_session.document().replace(m_start, session::ChangeSource::File);
    m_session.document().setCdt(m_invocation.calibrate ? sampling::ReferenceStore::Calibrated
                                                       : sampling::ReferenceStore::Taught);
    m_printer.setPhase(QStringLiteral("Channel %1: insert 12 coins").arg(m_invocation.channel).toStdString());
    if (m_session.bench().isOpen()) {
        // Nobody stands at a virtual selector: feed it the channel's coins as a hand would.
        const int coinType = m_invocation.coinType >= 0 ? m_invocation.coinType : m_invocation.channel - 1;
        m_session.bench().feedCoins(coinType, sampling::ChannelReference::kSampleCount);
    }
    startSampling(m_invocation.channel, &TeachCommand::samplingFinished);
}

void TeachCommand::samplingFinished(const session::SamplingResult& result)
{
    m_session.bench().stopFeeding();
    m_printer.setPhase({});
    if (result.reason == session::EndReason::Cancelled || wasInterrupted()) {
        say(QStringLiteral("Interrupted: channel %1 not taught; nothing was written").arg(result.channel));
        finish(exit_code::kInterrupted);
        return;
    }
    if (!result.succeeded()) {
        sayFailed(result.message, QStringLiteral("channel not taught"),
                  QStringLiteral("nothing was written"));
        finish(exitCodeFor(result.reason));
        return;
    }
    std::cout << result.successText.toStdString() << std::endl;
    // The same warnings the sampling window shows beside the channel.
    if (result.reference)
        for (const std::string& warning :
             sampling::assessTeach(result.channel, result.samples, *result.reference,
                                   m_session.document().image())
                 .warningTexts())
            say(QStringLiteral("warning: %1").arg(QString::fromStdString(warning)));

    if (!m_invocation.outputFile.isEmpty()) {
        const QString failed =
            writeOutput(m_invocation.outputFile, serializeCoinData(m_session.document().image()));
        if (!failed.isEmpty()) {
            error(failed);
            finish(exit_code::kUsageOrFile);
            return;
        }
        if (m_invocation.outputFile != QLatin1String(kStandardOutput))
            m_saved = QStringLiteral("; saved %1").arg(QDir::toNativeSeparators(m_invocation.outputFile));
    }
    if (m_invocation.programAfter) {
        // The document, as taught: its fixed cells are stamped as every programming stamps them.
        session::ProgramRequest request;
        request.historyOperation = QStringLiteral("teach");
        startProgramming(request, &TeachCommand::programFinished);
        return;
    }
    note(QStringLiteral("Channel %1 taught%2").arg(m_invocation.channel).arg(m_saved));
    finish(exit_code::kSuccess);
}

void TeachCommand::programFinished(const session::ProgramResult& result)
{
    if (const auto failed = programmingFailure(result)) {
        finish(*failed);
        return;
    }
    QString summary = result.summary();
    summary[0] = summary[0].toLower();
    note(QStringLiteral("Channel %1 taught%2; %3").arg(m_invocation.channel).arg(m_saved).arg(summary));
    finish(exit_code::kSuccess);
}

} // namespace quarvel::cli
