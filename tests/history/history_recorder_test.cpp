#include "history/history_recorder.h"
#include "history/history_store.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace quarvel::history;

namespace {

HistoryRecord numbered(int n)
{
    HistoryRecord r;
    r.id = QStringLiteral("id-%1").arg(n);
    r.at = QDateTime::currentDateTimeUtc();
    r.operation = QStringLiteral("station");
    return r;
}

HistoryTarget fileAt(const QString& path)
{
    HistoryTarget t;
    t.path = path;
    return t;
}

std::vector<QString> idsIn(const QString& path)
{
    HistoryStore store(QStringLiteral("check"));
    if (!store.open(fileAt(path))) return {};
    return store.idsInOrder();
}

} // namespace

// The "server" here is a second SQLite file behind a folder that cannot be made while a plain
// file stands in its place: the recorder treats any target it is given as a server alike.
TEST(HistoryRecorder, SpoolsWhileTheServerIsAwayAndSendsEachOnceInOrder)
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("server"));
    QFile(blocker).open(QIODevice::WriteOnly);
    const QString serverFile = blocker + QStringLiteral("/history.sqlite");
    RecorderConfig config;
    config.local = fileAt(dir.filePath(QStringLiteral("local.sqlite")));
    config.server = fileAt(serverFile);
    config.retryMs = 3600000; // tried again only when the test syncs
    HistoryRecorder recorder(config);
    QSignalSpy problems(&recorder, &HistoryRecorder::problem);

    for (int n = 1; n <= 3; ++n)
        recorder.record(numbered(n));
    recorder.sync();
    EXPECT_EQ(recorder.waiting(), 3);
    EXPECT_EQ(waitingText(recorder.waiting()), QStringLiteral("history: 3 records waiting for the server"));
    QCoreApplication::processEvents();
    EXPECT_EQ(problems.count(), 1) << "an absent server is said once, not per record";

    QFile::remove(blocker);
    recorder.record(numbered(4));
    recorder.record(numbered(2)); // the same attempt again
    recorder.sync();
    EXPECT_EQ(recorder.waiting(), 0);
    const std::vector<QString> expected{"id-1", "id-2", "id-3", "id-4"};
    EXPECT_EQ(idsIn(serverFile), expected);
}

TEST(HistoryRecorder, AnUnwritableHistoryIsSaidOnce)
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("file"));
    QFile(blocker).open(QIODevice::WriteOnly);
    RecorderConfig config;
    config.local = fileAt(blocker + QStringLiteral("/history.sqlite"));
    HistoryRecorder recorder(config);
    QSignalSpy problems(&recorder, &HistoryRecorder::problem);
    recorder.record(numbered(1));
    recorder.record(numbered(2));
    recorder.sync();
    QCoreApplication::processEvents();
    ASSERT_EQ(problems.count(), 1);
    EXPECT_TRUE(problems.at(0).at(0).toString().startsWith(QStringLiteral("history: ")))
        << "said as the history's";
}
