#include "image/qt/state_file_io.h"
#include "image/qt/user_folders.h"

#include <QCoreApplication>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

// Points the per-user folders at a temporary one for the length of a test. Windows takes its
// folders from the system, not the environment: there Qt's test folders stand in, emptied.
class StateFileIo : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
#ifdef Q_OS_WIN
        QStandardPaths::setTestModeEnabled(true);
        QDir(QFileInfo(stateFilePath()).absolutePath()).removeRecursively();
#endif
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            m_saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qputenv(name, QFile::encodeName(m_home.path()));
        }
    }
    void TearDown() override
    {
#ifdef Q_OS_WIN
        QDir(QFileInfo(stateFilePath()).absolutePath()).removeRecursively();
        QStandardPaths::setTestModeEnabled(false);
#endif
        for (const Saved& saved : m_saved) {
            if (saved.wasSet)
                qputenv(saved.name, saved.value);
            else
                qunsetenv(saved.name);
        }
    }

    struct Saved
    {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QTemporaryDir m_home;
    std::vector<Saved> m_saved;
};

TEST_F(StateFileIo, LivesInTheConfigurationFolder)
{
    const QString path = stateFilePath();
#ifdef Q_OS_WIN
    // The user's own folder, writable without administrator rights, and not the root of C:.
    EXPECT_TRUE(
        path.startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/'))
        << path.toStdString();
#else
    // Once, not ~/.config/quarvel/quarvel as Qt's per-application folder would have it.
    EXPECT_EQ(path, m_home.path() + QStringLiteral("/quarvel/cmose.sys"));
#endif
    EXPECT_TRUE(path.endsWith(QStringLiteral("/cmose.sys"))) << path.toStdString();
}

// What an earlier version kept in the doubled folders comes along; nothing is overwritten.
TEST_F(StateFileIo, TheOldDoubledFoldersMoveIntoTheNewOnes)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
    const QString organization = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    QCoreApplication::setOrganizationName(QStringLiteral("quarvel"));
    QCoreApplication::setApplicationName(QStringLiteral("quarvel"));
    const QString oldConfig = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    const QString oldData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const auto put = [](const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    put(oldConfig + "/cmose.sys", "old state");
    put(oldData + "/backups/a.cdt", "a");
    put(oldData + "/backups/b.cdt", "old b");
    put(userDataFolder() + "/backups/b.cdt", "new b");
    const QString left = moveOldUserFolders();
    QCoreApplication::setOrganizationName(organization);
    QCoreApplication::setApplicationName(application);
    const auto bytes = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_EQ(bytes(stateFilePath()), "old state");
    EXPECT_EQ(bytes(userDataFolder() + "/backups/a.cdt"), "a");
    EXPECT_EQ(bytes(userDataFolder() + "/backups/b.cdt"), "new b");
    EXPECT_EQ(left, oldData + "/backups/b.cdt");
    EXPECT_FALSE(QFileInfo::exists(oldConfig));
}

TEST_F(StateFileIo, MissingFileGivesTheDefaultsWithoutError)
{
    const StateFileLoad load = loadStateFile(stateFilePath());
    EXPECT_FALSE(load.found);
    EXPECT_TRUE(load.error.isEmpty());
    EXPECT_EQ(load.state, StateFile{});
}

TEST_F(StateFileIo, SaveCreatesTheFolderAndLoadReadsItBack)
{
    StateFile state;
    state.setMostRecent("ch 1.cdt");
    state.choosePort(9);
    const QString path = stateFilePath();
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(path).absolutePath()));

    const FileSaveResult saved = saveStateFile(path, state);
    ASSERT_TRUE(saved.saved) << saved.error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              "\"ch 1.cdt\"\r\n\"c:\\coin.syn\"\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n#FALSE#\r\n");

    const StateFileLoad load = loadStateFile(path);
    EXPECT_TRUE(load.found);
    EXPECT_TRUE(load.error.isEmpty());
    EXPECT_EQ(load.state, state);
    EXPECT_EQ(load.state.startupPort(), 1);
}

TEST_F(StateFileIo, FileNamesAreWrittenWithThePlatformsSeparators)
{
    StateFile state;
    state.setMostRecent("C:/bench/a.cdt");
    ASSERT_TRUE(saveStateFile(stateFilePath(), state).saved);
    QFile file(stateFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
#ifdef Q_OS_WIN
    EXPECT_TRUE(file.readAll().startsWith("\"C:\\bench\\a.cdt\"\r\n\"c:\\coin.syn\""));
#else
    EXPECT_TRUE(file.readAll().startsWith("\"C:/bench/a.cdt\"\r\n\"c:\\coin.syn\""));
#endif
}

TEST_F(StateFileIo, UnwritableFolderIsReported)
{
    QFile blocker(m_home.filePath(QStringLiteral("plain-file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const FileSaveResult saved =
        saveStateFile(m_home.filePath(QStringLiteral("plain-file/sub/cmose.sys")), {});
    EXPECT_FALSE(saved.saved);
    EXPECT_TRUE(saved.error.startsWith(QStringLiteral("Cannot save "))) << saved.error.toStdString();
}

} // namespace
} // namespace quarvel
