#include "ui/main/restore_dialog.h"

#include "image/default_image.h"
#include "link/qt/serial_link.h"
#include "session/backup.h"
#include "session/document_files.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

// Without a port nothing can be restored: said first, and Restore… stays off.
TEST(RestoreDialog, SaysThatNoPortIsOpenAndFitsTheScreen)
{
    QTemporaryDir folder;
    ParameterImage image;
    loadMainDefault(image);
    const QString backup =
        session::BackupFolder(folder.path()).newFile(QDateTime::currentDateTime(), "COM3", 42);
    ASSERT_TRUE(session::saveCoinData(backup, image).saved);
    RestoreDialog dialog(folder.path(), image);
    auto* restore = dialog.findChild<QPushButton*>("ComRestore");
    ASSERT_TRUE(restore->isEnabled());
    dialog.refuseRestore(link::SerialLink::noPortText());
    dialog.show();
    EXPECT_FALSE(restore->isEnabled());
    EXPECT_EQ(dialog.findChild<QLabel*>("LabelRestoreNotice")->text(), "No serial port is open.");
    EXPECT_TRUE(dialog.findChild<QLabel*>("LabelRestoreNotice")->isVisible());
    EXPECT_FALSE(dialog.findChild<QTreeWidget*>("ListBackups")->accessibleName().isEmpty());
    EXPECT_LE(dialog.width(), dialog.screen()->availableGeometry().width());
}

} // namespace
} // namespace quarvel
