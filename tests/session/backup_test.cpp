// Backups: a taught selector's memory survives programming over it, and the folder keeps only
// the newest.
#include "session/backup.h"

#include "link/program_transfer.h"
#include "session/document_files.h"
#include "session/selector_session.h"
#include "sim/virtual_selector.h"

#ifdef Q_OS_UNIX
#include "sim/qt/pty_bridge.h"
#endif

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace quarvel::session {
namespace {

#ifdef Q_OS_UNIX
TEST(Backup, RestoresEveryCellOfASelectorProgrammedOver)
{
    // A selector taught before: every cell its own, but for the identification every
    // programming stamps.
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
        image.setNumber(a, (a * 13 + 5) % 251);
    link::stampFixedCells(image);
    std::vector<std::uint8_t> taught;
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
        taught.push_back(static_cast<std::uint8_t>(image.integer(a)));
    sim::VirtualSelector model;
    model.loadMemory(taught);
    const auto before = model.memory();
    sim::PtyBridge bridge(model);
    ASSERT_TRUE(bridge.open());
    SelectorSession session;
    ASSERT_TRUE(session.openPort(bridge.slavePath()));
    const ParameterImage document = session.image();

    QTemporaryDir dir;
    BackupResult backup;
    bool done = false;
    ASSERT_TRUE(backUpSelector(
        session, dir.path() + QLatin1Char('/'),
        [&](const BackupResult& r) {
            backup = r;
            done = true;
        },
        KeepBackups::Newest));
    QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
    ASSERT_TRUE(backup.saved) << backup.error.toStdString();
    EXPECT_EQ(session.image(), document); // the backup never reaches the document
    EXPECT_TRUE(QFile::exists(backup.path));

    // Programmed over from the document (defaults), then restored from the file.
    const auto programmed = [&](Started<ProgramOperation> started) {
        EXPECT_TRUE(started);
        QSignalSpy spy(started.operation, &ProgramOperation::finished);
        EXPECT_TRUE(spy.wait(20000));
        return spy.takeFirst().at(0).value<ProgramResult>().succeeded();
    };
    ASSERT_TRUE(programmed(session.programSelector()));
    EXPECT_NE(model.memory(), before);
    const CoinDataCheck file = checkCoinDataFile(backup.path, true);
    ASSERT_TRUE(file);
    ASSERT_TRUE(programmed(session.programImage(file.file->image)));
    EXPECT_EQ(model.memory(), before);
    EXPECT_TRUE(differingFields(file.file->image, backup.image).isEmpty());
}
#endif

TEST(Backup, TheFolderKeepsTheNewestAndNamesEachBackupOnce)
{
    QTemporaryDir dir;
    const BackupFolder folder(dir.path());
    const QDateTime start(QDate(2026, 1, 2), QTime(3, 4, 5));
    for (int i = 0; i < BackupFolder::kKept + 2; ++i) {
        QFile f(folder.newFile(start.addSecs(i), QStringLiteral("/dev/ttyUSB0")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString again = folder.newFile(start, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_TRUE(again.endsWith(QStringLiteral("2026-01-02_030405_dev-ttyUSB0_2.cdt"))) << again.toStdString();
    folder.prune();
    const auto kept = folder.entries();
    ASSERT_EQ(kept.size(), std::size_t(BackupFolder::kKept));
    EXPECT_EQ(kept.front().taken, start.addSecs(BackupFolder::kKept + 1));
    EXPECT_EQ(kept.back().taken, start.addSecs(2));
    EXPECT_EQ(kept.front().port, QStringLiteral("dev-ttyUSB0"));
}

} // namespace
} // namespace quarvel::session
