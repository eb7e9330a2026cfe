#include "image/qt/image_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace quarvel {
namespace {

QByteArray numbered(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += '"' + QByteArray::number(i % 256) + "\"\r\n";
    return text;
}

QByteArray randomBytes(std::size_t size)
{
    std::mt19937 random(7);
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

TEST(ImageFile, TakesTextOnlyAndSaysHowManyValuesItHeld)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct
    {
        const char* name;
        QByteArray content;
        const char* error; // part of the refusal, or nullptr when accepted
        int values;
        const char* first = "";
    } cases[] = {
        {"bom", "\xEF\xBB\xBF" + numbered(256), nullptr, 256, "0"},
        {"shorter than a mark", "\"7\"", nullptr, 1, "7"},
        {"short", numbered(120), nullptr, 120, "0"},
        {"utf16", QByteArray("\xFF\xFE", 2) + QByteArray("1\0\r\0\n\0", 6).repeated(256),
         "is not a coin data file", 0},
        {"utf16 without mark", QByteArray("1\0,\0", 4).repeated(256), "is not a coin data file", 0},
        // Not "nul": that names a device on Windows.
        {"nul byte", QByteArray("\"1\"\r\n\0\"2\"", 9), "is not a coin data file", 0},
        {"random", randomBytes(64 * 1024), "is not a coin data file", 0},
        {"latin1", "\"caf\xE9\"", "is not a coin data file", 0},
        {"cut utf8 at end", "\"7\"\r\n8\xC3", "is not a coin data file", 0},
        {"empty", "", "holds no values", 0},
        {"100000 lines", numbered(100000), "bytes, far more than the 189 values programming needs", 0},
        {"bom only", "\xEF\xBB\xBF", "holds no values", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.content);
        file.close();

        const ImageFileRead read = readImageFile(path);
        if (c.error != nullptr) {
            EXPECT_FALSE(read.file.has_value());
            EXPECT_TRUE(read.error.contains(QDir::toNativeSeparators(path))) << read.error.toStdString();
            EXPECT_TRUE(read.error.contains(QString::fromLatin1(c.error))) << read.error.toStdString();
            continue;
        }
        ASSERT_TRUE(read.file.has_value()) << read.error.toStdString();
        EXPECT_EQ(read.file->valueCount(), c.values);
        EXPECT_EQ(read.file->image.text(0), c.first); // a mark never reaches cell 0
        EXPECT_EQ(read.file->coversSelector(), c.values >= 189);
    }
    EXPECT_FALSE(readImageFile(dir.filePath(QStringLiteral("missing"))).error.isEmpty());
#ifndef Q_OS_WIN
    // Opened, a FIFO would wait for a writer for ever; a folder or a device is no file either.
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {fifo, dir.path(), QStringLiteral("/dev/null")})
        EXPECT_TRUE(readImageFile(path).error.endsWith("it is not a regular file")) << path.toStdString();
#endif
    const QString one = dir.filePath(QStringLiteral("shorter than a mark"));
    EXPECT_TRUE(shortFileNote(one, *readImageFile(one).file)
                    .endsWith("holds 1 value; selector cells 1..188 keep the default image"));
}

} // namespace
} // namespace quarvel
