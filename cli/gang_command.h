#pragma once

#include "command_line.h"
#include "gang_log.h"

#include "history/history_recorder.h"
#include "session/gang_run.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

namespace quarvel::cli {

// gang: one coin data file into the selectors on several ports at once; results on stdout,
// one progress line per port on a terminal (stderr), rows to the log.
class GangCommand : public QObject
{
    Q_OBJECT

public:
    explicit GangCommand(const Invocation& invocation, QObject* parent = nullptr);
    ~GangCommand() override;

    void start();
    void interrupt();

signals:
    void finished(int exitCode);

private:
    // Everything that can be refused before a byte is sent; an exit code when refused.
    std::optional<int> prepare(session::GangJob& job);
    std::optional<int> startRecording(session::GangJob& job);
    void unitFinished(const session::GangUnitResult& result);
    void portLost(const QString& port, const QString& message);
    void allDone();
    void error(const QString& message);
    void clearProgress();
    void drawProgress();

    const Invocation m_invocation;
    std::unique_ptr<history::HistoryRecorder> m_history; // outlives the run's devices
    std::unique_ptr<session::GangRun> m_run;
    GangLog m_log;
    bool m_logFailed = false;
    QHash<QString, QPair<QString, QString>> m_adapters; // port -> description, serial number
    bool m_progressShown = false;
    QStringList m_progress; // one line per port
    int m_linesDrawn = 0;
    QTimer m_redraw;
};

} // namespace quarvel::cli
