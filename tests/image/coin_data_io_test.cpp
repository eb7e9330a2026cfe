#include "image/qt/coin_data_io.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "marked_image.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace quarvel {
namespace {

using test_support::kUntouched;
using test_support::markedImage;

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray numberedValues(int count, const char* separator)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += QByteArray::number(i) + separator;
    return text;
}

class CoinDataIo : public ::testing::Test
{
protected:
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
};

TEST_F(CoinDataIo, SaveThenLoadReproducesTheCellsAndTheBytes)
{
    ParameterImage image;
    for (int cell = 0; cell < ParameterImage::kCellCount; ++cell)
        image.setText(cell, std::to_string(cell % 256));
    image.setText(1, "");
    image.setText(2, " 12ab");
    image.setText(4, "3,5 x");

    const FileSaveResult saved = saveCoinDataFile(path("a.cdt"), image);
    ASSERT_TRUE(saved.saved) << saved.error.toStdString();
    const QByteArray bytes = readFile(path("a.cdt"));
    EXPECT_TRUE(bytes.startsWith("\"0\"\r\n\"\"\r\n\" 12ab\"\r\n\"3\"\r\n\"3,5 x\"\r\n"));
    EXPECT_TRUE(bytes.endsWith("\"254\"\r\n\"255\"\r\n"));
    EXPECT_EQ(bytes.count('\n'), 256);

    ParameterImage loaded = markedImage();
    const CoinDataLoadResult result = loadCoinDataFile(path("a.cdt"), loaded);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.valuesTaken, 256);
    EXPECT_TRUE(result.error.isEmpty());
    for (int cell = 0; cell < ParameterImage::kCellCount; ++cell)
        EXPECT_EQ(loaded.text(cell), cell < 256 ? image.text(cell) : kUntouched) << cell;

    ASSERT_TRUE(saveCoinDataFile(path("b.cdt"), loaded).saved);
    EXPECT_EQ(readFile(path("b.cdt")), bytes);
}

TEST_F(CoinDataIo, LoadsAsManyValuesAsTheFileHas)
{
    struct Case
    {
        QByteArray content;
        int taken;
    };
    // Values padded with blanks so that the file spans several reads.
    QByteArray padded;
    for (int i = 0; i < 256; ++i)
        padded += QByteArray(200, ' ') + QByteArray::number(i) + "\r\n";
    const Case cases[] = {
        {numberedValues(200, "\r\n"), 200}, {numberedValues(300, ","), 256}, {padded, 256}, {"", 0}};
    for (const Case& c : cases) {
        writeFile(path("in.cdt"), c.content);
        ParameterImage image = markedImage();
        const CoinDataLoadResult result = loadCoinDataFile(path("in.cdt"), image);
        EXPECT_TRUE(result.opened);
        EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
        EXPECT_EQ(result.valuesTaken, c.taken) << c.content.left(20).toStdString();
        for (int cell = 0; cell < ParameterImage::kCellCount; ++cell)
            EXPECT_EQ(image.text(cell), cell < c.taken ? std::to_string(cell) : kUntouched) << cell;
    }
}

TEST_F(CoinDataIo, EmptyValuesAndReadingWithoutAnImage)
{
    writeFile(path("in.cdt"), "\"1\"\r\n\r\n,\"\",4");
    const CoinDataFileRead read = readCoinDataFile(path("in.cdt"));
    EXPECT_TRUE(read.opened);
    EXPECT_EQ(read.values, (std::vector<std::string>{"1", "", "", "", "4"}));
}

TEST_F(CoinDataIo, UnopenableFileLeavesTheImageAlone)
{
    for (const QString& name : {path("missing.cdt"), m_dir.path()}) {
        ParameterImage image = markedImage();
        const CoinDataLoadResult result = loadCoinDataFile(name, image);
        EXPECT_EQ(result.valuesTaken, 0) << name.toStdString();
        EXPECT_FALSE(result.error.isEmpty()) << name.toStdString();
        EXPECT_EQ(image, markedImage());
    }
    ParameterImage image;
    EXPECT_FALSE(loadCoinDataFile(path("missing.cdt"), image).opened);
}

// A file that never gets to 256 values within the byte limit is cut off; values complete by
// then are kept, the endless one is not.
TEST_F(CoinDataIo, HugeFilesAreReadOnlyAsFarAsTheyCanBeUseful)
{
    // Several gigabytes of NULs, sparse on disk.
    {
        QFile sparse(path("huge.cdt"));
        ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
        ASSERT_TRUE(sparse.resize(3LL * 1024 * 1024 * 1024));
    }
    writeFile(path("digits.cdt"), "1,2," + QByteArray(2 * 1024 * 1024, '7'));
    writeFile(path("junk-after.cdt"), numberedValues(300, "\r\n") + QByteArray(8 * 1024 * 1024, 'j'));

    struct Case
    {
        QString name;
        int taken;
        bool tooLarge;
    };
    std::vector<Case> cases = {
        {path("huge.cdt"), 0, true}, {path("digits.cdt"), 2, true}, {path("junk-after.cdt"), 256, false}};
    for (const Case& c : cases) {
        ParameterImage image = markedImage();
        const CoinDataLoadResult result = loadCoinDataFile(c.name, image);
        EXPECT_TRUE(result.opened) << c.name.toStdString();
        EXPECT_EQ(result.valuesTaken, c.taken) << c.name.toStdString();
        EXPECT_EQ(result.error.contains(QStringLiteral("too large")), c.tooLarge)
            << result.error.toStdString();
        EXPECT_EQ(image.text(c.taken), kUntouched);
    }
    // A device that never ends is not even opened: only a regular file is.
    if (QFileInfo::exists(QStringLiteral("/dev/zero"))) {
        ParameterImage image = markedImage();
        const CoinDataLoadResult zero = loadCoinDataFile(QStringLiteral("/dev/zero"), image);
        EXPECT_FALSE(zero.opened);
        EXPECT_TRUE(zero.error.endsWith(QStringLiteral("it is not a regular file")))
            << zero.error.toStdString();
    }
}

TEST_F(CoinDataIo, BinaryGarbageLoadsWithoutHarm)
{
    std::mt19937 random(99);
    QByteArray garbage(300 * 1024, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random() & 0xFF);
    writeFile(path("garbage.cdt"), garbage);
    ParameterImage image;
    const CoinDataLoadResult result = loadCoinDataFile(path("garbage.cdt"), image);
    EXPECT_TRUE(result.opened);
    EXPECT_LE(result.valuesTaken, 256);
}

TEST_F(CoinDataIo, FailedSaveIsReportedAndLeavesNoFile)
{
    const QString inMissingFolder = path("no-such-folder/a.cdt");
    const FileSaveResult result = saveCoinDataFile(inMissingFolder, ParameterImage{});
    EXPECT_FALSE(result.saved);
    EXPECT_TRUE(
        result.error.startsWith(QStringLiteral("Cannot save ") + QDir::toNativeSeparators(inMissingFolder)))
        << result.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(inMissingFolder));

    const FileSaveResult ontoFolder = saveCoinDataFile(m_dir.path(), ParameterImage{});
    EXPECT_FALSE(ontoFolder.saved);
    EXPECT_FALSE(ontoFolder.error.isEmpty());
    EXPECT_TRUE(QFileInfo(m_dir.path()).isDir());
}

#ifdef Q_OS_UNIX
// The new content fails to reach the disk part-way (here: the file size limit), as a full disk
// would: the previous file must stay exactly as it was, and no temporary file may remain.
TEST_F(CoinDataIo, SaveFailingPartWayKeepsThePreviousFile)
{
    const QByteArray previous = "\"1\"\r\n\"2\"\r\n";
    writeFile(path("keep.cdt"), previous);

    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
    rlimit small = original;
    small.rlim_cur = 100;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileSaveResult result = saveCoinDataFile(path("keep.cdt"), ParameterImage{});
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(result.saved);
    EXPECT_TRUE(result.error.startsWith(QStringLiteral("Cannot save "))) << result.error.toStdString();
    EXPECT_EQ(readFile(path("keep.cdt")), previous);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.cdt")});
}

TEST_F(CoinDataIo, SaveIntoReadOnlyFolderKeepsThePreviousFile)
{
    const QByteArray previous = "\"5\"\r\n";
    writeFile(path("keep.cdt"), previous);
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    if (access(m_dir.path().toLocal8Bit().constData(), W_OK) == 0) {
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "permissions do not bind this user (root)";
    }
    const FileSaveResult result = saveCoinDataFile(path("keep.cdt"), ParameterImage{});
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(readFile(path("keep.cdt")), previous);
}
#endif

} // namespace
} // namespace quarvel
