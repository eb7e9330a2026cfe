#include "session/results.h"

#include "image/address_map.h"
#include "image/parameter_image.h"
#include "link/program_transfer.h"
#include "session/port_advice.h"

#include <QDir>
#include <QStringList>

#include <algorithm>

namespace quarvel::session {

namespace {

QString plural(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

QString faultList(const link::FaultCounts& faults)
{
    QStringList parts;
    const auto count = [&](link::ExchangeFault fault) { return faults.count(fault); };
    if (const int n = count(link::ExchangeFault::TimeOut)) parts << plural(n, "time-out", "time-outs");
    if (const int n = count(link::ExchangeFault::BadChecksum))
        parts << plural(n, "bad checksum", "bad checksums");
    if (const int n = count(link::ExchangeFault::WrongEcho)) parts << plural(n, "wrong echo", "wrong echoes");
    if (const int n = count(link::ExchangeFault::Echoed))
        parts << plural(n, "echoed request", "echoed requests");
    return parts.join(QStringLiteral(", "));
}

// "5 time-outs", "3 time-outs, 2 bad checksums", "port lost".
QString whyNotProgrammed(const RangeResult& range)
{
    switch (range.reason) {
    case link::EndReason::Cancelled:
        return QStringLiteral("cancelled");
    case link::EndReason::PortLost:
        return QStringLiteral("port lost");
    case link::EndReason::Refused:
        return QStringLiteral("refused");
    default:
        break;
    }
    const QString faults = faultList(range.faults);
    return faults.isEmpty() ? QStringLiteral("failed") : faults;
}

} // namespace

QString readFailureText(const link::TransferSummary& summary, int firstCell)
{
    QString text = QString::fromStdString(summary.text);
    if (summary.reason != link::EndReason::RetriesUsedUp) return text;
    // An answer that echoed its request was taken, not failed.
    const link::FaultCounts faults = summary.faults.without(link::ExchangeFault::Echoed);
    const int failed = faults.total();
    QString why = QStringLiteral("%1 at cell %2: %3 (%4)")
                      .arg(text)
                      .arg(firstCell + summary.cellsDone)
                      .arg(plural(failed, "failed exchange", "failed exchanges"))
                      .arg(faultList(faults));
    // Nothing ever came back: the line or the selector, not the memory, is what to look at.
    if (summary.cellsDone == 0 && failed > 0 && faults.count(link::ExchangeFault::TimeOut) == failed)
        why += QStringLiteral("; ") + noAnswerAdvice();
    return why;
}

int ProgramResult::cellsInRanges()
{
    int cells = 0;
    for (const auto& range : link::kProgramRanges)
        cells += range.last - range.first + 1;
    return cells;
}

bool ProgramResult::rangesWritten() const
{
    if (ranges.size() != link::kProgramRanges.size()) return false;
    return std::all_of(ranges.begin(), ranges.end(),
                       [](const RangeResult& r) { return r.reason == link::EndReason::Succeeded; });
}

int ProgramResult::cellsWritten() const
{
    int cells = 0;
    for (const auto& range : ranges)
        cells += range.cellsWritten;
    return cells;
}

QString ProgramResult::failureSummary() const
{
    QStringList lines;
    for (std::size_t i = 0; i < link::kProgramRanges.size(); ++i) {
        const auto& expected = link::kProgramRanges[i];
        if (i >= ranges.size()) {
            lines << QStringLiteral("cells %1-%2 not programmed (not reached)")
                         .arg(expected.first)
                         .arg(expected.last);
            continue;
        }
        const RangeResult& range = ranges[i];
        if (range.reason == link::EndReason::Succeeded) continue;
        if (!range.unwritten.empty()) {
            QStringList cells;
            for (const int cell : range.unwritten)
                cells << QString::number(cell);
            lines << QStringLiteral("cells %1 not programmed (they read back otherwise after %2 writes)")
                         .arg(cells.join(QStringLiteral(", ")))
                         .arg(1 + RangeResult::kWritesAgain);
            continue;
        }
        // Cells before the failing one were acknowledged; the rest of the range was not sent.
        const int from = std::min(range.first + range.cellsWritten, range.last);
        lines << QStringLiteral("cells %1-%2 not programmed (%3)")
                     .arg(from)
                     .arg(range.last)
                     .arg(whyNotProgrammed(range));
    }
    return lines.join(QStringLiteral("; "));
}

QString ProgramResult::summary() const
{
    const QString backupNote =
        backup.state == BackupOutcome::State::Saved
            ? QStringLiteral("; backup in %1").arg(QDir::toNativeSeparators(backup.path))
            : QString();
    const int written = cellsWritten();
    if (written == 0 && endedIn != Phase::Writing && endedIn != Phase::Verify && endedIn != Phase::Done) {
        if (reason == link::EndReason::Cancelled) return QStringLiteral("Cancelled; nothing programmed");
        return QStringLiteral("%1; nothing was programmed").arg(message);
    }
    if (!rangesWritten()) return failureSummary() + backupNote;
    QString done = exact ? QStringLiteral("Restored %1 cells").arg(written)
                         : QStringLiteral("Programmed %1 cells").arg(written);
    if (verifyAsked && !verified)
        return QStringLiteral("%1, but reading them back failed: %2%3").arg(done, message, backupNote);
    if (!mismatches.empty()) {
        QStringList cells;
        for (const VerifyMismatch& m : mismatches)
            cells << QStringLiteral("%1 (cell %2)").arg(m.field).arg(m.cell);
        return QStringLiteral("%1; %2 differ on reading back: %3%4")
            .arg(done)
            .arg(mismatches.size())
            .arg(cells.join(QStringLiteral(", ")), backupNote);
    }
    if (exact && verified && notRestored.empty()) done = QStringLiteral("Restored exactly");
    if (!notRestored.empty()) {
        QStringList cells;
        for (const int cell : notRestored)
            cells << QString::fromStdString(address::fieldName(cell)) +
                         QStringLiteral(" (cell %1)").arg(cell);
        done += QStringLiteral("; not restored (no programming writes them): %1")
                    .arg(cells.join(QStringLiteral(", ")));
    } else if (verified && !exact) {
        done += QStringLiteral("; verified");
    }
    return done + backupNote;
}

QStringList CheckResult::lines() const
{
    const auto ms = [](double v) { return QString::number(v, 'f', 2); };
    const auto count = [this](link::ExchangeFault fault) { return figures.count(fault); };
    QStringList lines;
    if (figures.answered() > 0)
        lines << QStringLiteral(
                     "round trip of %1 answers to %2 reads of cell 0: min %3 ms, median %4 ms, p99 %5 ms, "
                     "max %6 ms")
                     .arg(figures.answered())
                     .arg(figures.asked)
                     .arg(ms(report.minMs), ms(report.medianMs), ms(report.p99Ms), ms(report.maxMs));
    else
        lines << QStringLiteral("no answer in time to %1 reads of cell 0").arg(figures.asked);
    if (!figures.lateUs.empty())
        lines << QStringLiteral("%1 after the time-out, not counted")
                     .arg(plural(static_cast<int>(figures.lateUs.size()), "answer came", "answers came"));
    lines << QStringLiteral("line time of one exchange: %1 ms (%2 ms at 19200 8N1 plus %3 ms turnaround)")
                 .arg(ms(report.lineMs), QString::number(link::kExchangeWireMs, 'f', 3),
                      ms(link::kTurnaroundMs));
    lines << QStringLiteral("failures: %1, %2, %3")
                 .arg(plural(count(link::ExchangeFault::TimeOut), "time-out", "time-outs"),
                      plural(count(link::ExchangeFault::BadChecksum), "bad checksum", "bad checksums"),
                      plural(count(link::ExchangeFault::WrongEcho) + count(link::ExchangeFault::Echoed),
                             "wrong echo", "wrong echoes"));
    if (!succeeded()) lines << QStringLiteral("check not finished: %1").arg(message);
    lines << QStringLiteral("diagnosis: %1").arg(QString::fromStdString(report.text));
    return lines;
}

} // namespace quarvel::session
