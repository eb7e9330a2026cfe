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
    ASSERT_TRUE(session.device().openPort(bridge.slavePath()));
    const ParameterImage document = session.document().image();

    QTemporaryDir dir;
    const auto programmed = [&](const ProgramRequest& request) {
        const auto started = session.program(request);
        EXPECT_TRUE(started) << started.refusalText().toStdString();
        QSignalSpy spy(started.operation, &ProgramOperation::finished);
        EXPECT_TRUE(spy.wait(20000));
        return spy.takeFirst().at(0).value<ProgramResult>();
    };
    // Programmed over with defaults, after a backup...
    ProgramRequest over;
    over.image = ParameterImage();
    over.backup = {BackupPolicy::Kind::Folder, dir.path(), false};
    const ProgramResult first = programmed(over);
    ASSERT_TRUE(first.succeeded()) << first.summary().toStdString();
    EXPECT_EQ(session.document().image(), document); // the backup never reaches the document
    EXPECT_NE(model.memory(), before);
    // ...then restored exactly from it.
    const CoinDataCheck file = checkCoinDataFile(first.backup.path, true);
    ASSERT_TRUE(file);
    ProgramRequest restore;
    restore.image = file.file->image;
    restore.exact = true;
    ASSERT_TRUE(programmed(restore).succeeded());
    EXPECT_EQ(model.memory(), before);
}
#endif

TEST(Backup, TheFolderKeepsTheNewestAndNamesEachBackupOnce)
{
    QTemporaryDir dir;
    const BackupFolder folder(dir.path());
    const QDateTime start(QDate(2026, 1, 2), QTime(3, 4, 5));
    // A by-id path holds "_", which also parts the name: it must still be found.
    const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
    for (int i = 0; i < BackupFolder::kKept + 2; ++i) {
        QFile f(folder.newFile(start.addSecs(i), i % 2 ? byId : QStringLiteral("/dev/ttyUSB0"), 42));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString again = folder.newFile(start.addSecs(1), byId, 42);
    EXPECT_TRUE(
        again.endsWith(QStringLiteral("2026-01-02_030406_dev-serial-by-id-usb-FTDI-FT232R-USB-UART-A1-if00-"
                                      "port0_sn42_2.cdt")))
        << again.toStdString();
    folder.prune();
    const auto kept = folder.entries();
    ASSERT_EQ(kept.size(), std::size_t(BackupFolder::kKept));
    EXPECT_EQ(kept.front().taken, start.addSecs(BackupFolder::kKept + 1));
    EXPECT_EQ(kept.back().taken, start.addSecs(2));
    EXPECT_EQ(kept.front().port, QStringLiteral("dev-serial-by-id-usb-FTDI-FT232R-USB-UART-A1-if00-port0"));
    EXPECT_EQ(kept.front().serial, 42);
}

} // namespace
} // namespace quarvel::session
