// The main window's files on their own: Save As, and a save that fails.
#include "session/selector_session.h"
#include "ui/main/recent_files.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(RecentFiles, SaveAsMakesTheNameMostRecentAndAFailedSaveLeavesTheDocumentUnsaved)
{
    QTemporaryDir dir;
    session::SelectorSession session;
    QString line;
    session::StatusColour colour{};
    RecentFiles files(session,
                      {[&](const QString& text, session::StatusColour c) {
                           line = text;
                           colour = c;
                       },
                       [&] { return line; }},
                      nullptr);
    QString chosen = dir.filePath("new.cdt");
    files.setFileChooser([&](QWidget*, FileChoice, const QString&, const QString&,
                             std::function<void(const QString&)> done) { done(chosen); });
    const std::string before = files.state().recentName1;
    session.document().edit(session::ChangeSource::Edit,
                            [&](ParameterImage& image) { image.setText(0, "42"); });
    ASSERT_TRUE(session.document().isModified());

    std::optional<std::pair<bool, QString>> heard;
    files.saveAs([&](bool saved, const QString& text) { heard.emplace(saved, text); });
    ASSERT_TRUE(heard && heard->first);
    EXPECT_EQ(heard->second, line); // whoever asked hears what the status line says
    EXPECT_EQ(files.state().recentName1, chosen.toStdString());
    EXPECT_EQ(files.state().recentName2, before);
    EXPECT_TRUE(QFile::exists(chosen));
    EXPECT_FALSE(session.document().isModified());

    // A folder that does not exist: said in red, and the document still counts as unsaved.
    session.document().edit(session::ChangeSource::Edit,
                            [&](ParameterImage& image) { image.setText(0, "43"); });
    chosen = dir.filePath("missing/new.cdt");
    files.saveAs([&](bool saved, const QString& text) { heard.emplace(saved, text); });
    EXPECT_FALSE(heard->first);
    EXPECT_EQ(colour, session::StatusColour::Red);
    EXPECT_TRUE(session.document().isModified());
}

} // namespace
} // namespace quarvel
