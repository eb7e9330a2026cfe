#include "history_recording.h"

#include "history/history_setup.h"

namespace quarvel::cli {

HistoryRecording startHistory(const Invocation& invocation, QObject* context,
                              const std::function<void(const QString&)>& problems)
{
    HistoryRecording recording;
    if (invocation.noHistory) return recording;
    std::optional<history::HistoryTarget> server;
    if (!invocation.historyUrl.isEmpty()) {
        server = history::parseHistoryUrl(invocation.historyUrl).target;
        recording.refused = history::refusedLogin(*server);
        if (!recording.refused.isEmpty()) return recording;
    }
    recording.recorder = std::make_unique<history::HistoryRecorder>(history::recorderConfig(server));
    QObject::connect(recording.recorder.get(), &history::HistoryRecorder::problem, context, problems,
                     Qt::QueuedConnection);
    return recording;
}

} // namespace quarvel::cli
