#include "ui/main/about_dialog.h"
#include "ui/main/help_menu.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

// Installed, beside a Windows program and in the build tree: each layout finds its own copy, and
// a folder without index.html is no manual.
TEST(HelpMenu, FindsTheManualInEachLayout)
{
    struct Case
    {
        const char* manual; // folder with index.html, relative to the root; "" for none
        const char* broken; // folder without index.html
        const char* expected;
    };
    const Case cases[] = {
        {"usr/share/doc/quarvel/manual", "", "usr/share/doc/quarvel/manual/index.html"},
        {"usr/bin/manual", "usr/share/doc/quarvel/manual", "usr/bin/manual/index.html"},
        {"usr/manual", "", "usr/manual/index.html"},
        {"", "usr/bin/manual", ""},
    };
    for (const Case& c : cases) {
        QTemporaryDir root;
        QDir(root.path()).mkpath(QStringLiteral("usr/bin"));
        if (*c.broken) QDir(root.path()).mkpath(QLatin1String(c.broken));
        if (*c.manual) {
            QDir(root.path()).mkpath(QLatin1String(c.manual));
            QFile index(root.filePath(QLatin1String(c.manual) + QStringLiteral("/index.html")));
            ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        }
        const QString expected = *c.expected ? root.filePath(QLatin1String(c.expected)) : QString();
        EXPECT_EQ(findManual(root.filePath(QStringLiteral("usr/bin"))), expected) << c.manual;
    }
}

// The backups folder need not exist yet: the button makes it, then hands it to the desktop; when
// nothing opens it the dialog says so.
TEST(AboutDialog, OpensTheBackupsFolderAndSaysWhenItCannot)
{
    QTemporaryDir root;
    const AboutPaths paths{root.filePath("cmose.sys"), root.filePath("quarvel.conf"),
                           root.filePath("data/backups")};
    QList<QUrl> opened;
    bool opens = true;
    AboutDialog dialog(paths, [&](const QUrl& url) {
        opened << url;
        return opens;
    });
    EXPECT_EQ(dialog.findChild<QLabel*>("labelBackups")->text(), QDir::toNativeSeparators(paths.backups));
    auto* button = dialog.findChild<QPushButton*>("cmdOpenBackups");
    auto* result = dialog.findChild<QLabel*>("labelAboutResult");

    button->click();
    EXPECT_TRUE(QFileInfo(paths.backups).isDir());
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(paths.backups)});
    EXPECT_TRUE(result->isHidden());

    opens = false;
    button->click();
    EXPECT_FALSE(result->isHidden());
    EXPECT_TRUE(result->text().contains(QDir::toNativeSeparators(paths.backups)));
}

} // namespace
} // namespace quarvel
