// quarvelctl as a program: exit codes, messages and files, against the in-process virtual
// selector (--port sim) and against 'quarvelctl simulate --pty' over a real serial port path.
#include "event_wait.h"
#include "image/address_map.h"
#include "image/coin_data_file.h"
#include "image/default_image.h"
#include "sim/coin_types.h"
#include "sim/qt/coin_feeder.h"
#include "sim/qt/pty_bridge.h"
#include "sim/virtual_selector.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>
#include <sys/stat.h>

namespace quarvel {
namespace {

constexpr int kRunTimeoutMs = 30000;

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
    QByteArray rawOut;
};

void prepare(QProcess& process, const QTemporaryDir& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    process.setProcessEnvironment(env);
    process.setProgram(QStringLiteral(QUARVELCTL_PATH));
}

Outcome finishedRun(QProcess& process)
{
    Outcome run;
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(kRunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "quarvelctl did not finish";
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.rawOut = process.readAllStandardOutput();
    run.out = QString::fromUtf8(run.rawOut);
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

std::string show(const Outcome& run)
{
    return "exit " + std::to_string(run.exitCode) + "\nstdout:\n" + run.out.toStdString() + "stderr:\n" +
           run.err.toStdString();
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// The file the desktop program would save after start-up and a read of this memory.
QByteArray expectedReadFile(const sim::VirtualSelector::Memory& memory)
{
    ParameterImage image;
    loadMainDefault(image);
    for (int a = 0; a < sim::VirtualSelector::kCellCount; ++a)
        image.setNumber(a, memory[static_cast<std::size_t>(a)]);
    return QByteArray::fromStdString(serializeCoinData(image));
}

// A full image whose cells all differ from the factory memory's.
ParameterImage patternImage(int salt)
{
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kFileCells; ++a)
        image.setNumber(a, (a * 37 + salt) % 256);
    return image;
}

sim::VirtualSelector::Memory memoryOf(const ParameterImage& image)
{
    sim::VirtualSelector::Memory memory{};
    for (int a = 0; a < sim::VirtualSelector::kCellCount; ++a)
        memory[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(image.integer(a));
    return memory;
}

int occurrences(const QString& text, const char* what)
{
    return static_cast<int>(text.count(QLatin1String(what)));
}

class QuarvelctlTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    Outcome run(const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess process;
        prepare(process, m_dir);
        process.setArguments(arguments);
        process.start();
        if (!process.waitForStarted()) {
            ADD_FAILURE() << "quarvelctl did not start";
            return {};
        }
        if (!input.isEmpty()) process.write(input);
        process.closeWriteChannel();
        return finishedRun(process);
    }

    QString writeImage(const QString& name, const ParameterImage& image)
    {
        writeFile(path(name), QByteArray::fromStdString(serializeCoinData(image)));
        return path(name);
    }

    QTemporaryDir m_dir;
};

// 'quarvelctl simulate --pty' in the background: its first line is the path to use.
class Simulator
{
public:
    Simulator(const QTemporaryDir& home, const QStringList& options)
    {
        prepare(m_process, home);
        m_process.setArguments(QStringList{QStringLiteral("simulate"), QStringLiteral("--pty")} + options);
        m_process.start();
        while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) {
        }
        m_path = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~Simulator()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    QString path() const { return m_path; }

    // Ends it the documented way for a script, by a signal; returns the whole run.
    Outcome stop()
    {
        m_process.terminate();
        return finishedRun(m_process);
    }

    // Written at once: the test blocks on other processes, not on this one's event loop.
    void send(const QByteArray& input)
    {
        m_process.write(input);
        m_process.waitForBytesWritten();
    }
    void closeInput() { m_process.closeWriteChannel(); }

private:
    QProcess m_process;
    QString m_path;
};

TEST_F(QuarvelctlTest, ReadOverAPtyWritesTheSimulatedMemoryAsACoinDataFile)
{
    const ParameterImage memoryImage = patternImage(11);
    Simulator simulator(m_dir,
                        {QStringLiteral("--memory"), writeImage(QStringLiteral("memory.cdt"), memoryImage)});
    ASSERT_TRUE(simulator.path().startsWith(QStringLiteral("/dev/"))) << simulator.path().toStdString();

    const Outcome reading = run({"read", "--port", simulator.path(), "-o", path("out.cdt")});
    EXPECT_EQ(reading.exitCode, 0) << show(reading);
    EXPECT_EQ(reading.out, QString());
    EXPECT_EQ(fileBytes(path("out.cdt")), expectedReadFile(memoryOf(memoryImage)));

    const Outcome served = simulator.stop();
    EXPECT_EQ(served.exitCode, 0);
    EXPECT_TRUE(served.out.endsWith(QStringLiteral("\n"))) << show(served);
    const QStringList lines = served.out.split('\n', Qt::SkipEmptyParts); // after the path
    ASSERT_EQ(lines.size(), 1) << show(served);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("frames 189: reads 189, writes 0,"))) << show(served);
}

TEST_F(QuarvelctlTest, ReadFromTheInProcessSelectorMatchesItsFactoryMemory)
{
    const Outcome reading = run({"read", "--port", "sim", "-o", path("out.cdt")});
    EXPECT_EQ(reading.exitCode, 0) << show(reading);
    EXPECT_EQ(reading.err, QStringLiteral("Reading\nSaved %1 (189 cells)\n").arg(path("out.cdt")));
    EXPECT_EQ(fileBytes(path("out.cdt")), expectedReadFile(sim::VirtualSelector::factoryMemory()));

    // Without -o the same read is printed as settings, as 'show' prints the file.
    const Outcome printed = run({"read", "--port", "sim", "--quiet"});
    EXPECT_EQ(printed.exitCode, 0) << show(printed);
    EXPECT_EQ(printed.err, QString());
    const Outcome shown = run({"show", path("out.cdt")});
    EXPECT_EQ(printed.out, shown.out);
}

TEST_F(QuarvelctlTest, FaultsTheBudgetAbsorbsAndFaultsThatExhaustIt)
{
    const struct
    {
        const char* name;
        const char* faults;
        int exitCode;
        int timeOuts;
        bool written;
        const char* why; // where and why a read that failed failed
    } cases[] = {
        {"absorbed", "drop:3,badsum:10,badaddr:50,split:70:3,late:90:50ms", 0, 1, true, ""},
        {"four failures", "drop:1,drop:2,badsum:100,badcmd:150", 0, 2, true, ""},
        {"exhausted", "drop:1,drop:2,drop:3,drop:4,drop:5", 2, 5, false,
         "at cell 0: 5 failed exchanges (5 time-outs); the selector never answered: check the cable, and "
         "that the selector has power, then check the line (quarvelctl check, or System > Check Link...)"},
        {"spread out", "drop:10,badsum:20,drop:30,badaddr:40,drop:50", 2, 3, false,
         "at cell 45: 5 failed exchanges (3 time-outs, 1 bad checksum, 1 wrong echo)"},
    };
    const QByteArray before("an older file\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString out = path(QStringLiteral("%1.cdt").arg(QString::fromLatin1(c.name).replace(' ', '_')));
        writeFile(out, before);
        const Outcome reading = run({"read", "--port", "sim", "--fault", c.faults, "-o", out});
        EXPECT_EQ(reading.exitCode, c.exitCode) << show(reading);
        EXPECT_EQ(occurrences(reading.err, "Communication time out !"), c.timeOuts) << show(reading);
        EXPECT_TRUE(reading.err.endsWith(
            c.written ? QStringLiteral("(189 cells)\n")
                      : QStringLiteral("Read selector error\n"
                                       "FAILED: Read selector error %1; nothing was saved\n")
                            .arg(QLatin1String(c.why))))
            << show(reading);
        EXPECT_EQ(fileBytes(out),
                  c.written ? expectedReadFile(sim::VirtualSelector::factoryMemory()) : before);
    }
}

TEST_F(QuarvelctlTest, ASelectorThatVanishesEndsTheReadWithoutAFile)
{
    Simulator simulator(m_dir, {QStringLiteral("--fault"), QStringLiteral("gone:100")});
    const Outcome reading = run({"read", "--port", simulator.path(), "--quiet", "-o", path("out.cdt")});
    EXPECT_EQ(reading.exitCode, 2) << show(reading);
    EXPECT_EQ(reading.err,
              QStringLiteral("Read selector error\nFAILED: Read selector error at cell 99: 5 failed "
                             "exchanges (5 time-outs); nothing was saved\n"));
    EXPECT_FALSE(QFile::exists(path("out.cdt")));
    const Outcome served = simulator.stop();
    EXPECT_TRUE(served.out.trimmed().endsWith(QStringLiteral("; gone"))) << show(served);

    // A port that goes away (an adapter pulled) is named in the result line.
    const Outcome lost =
        run({"read", "--port", "sim", "--fault", "gone:5", "--quiet", "-o", path("out.cdt")});
    EXPECT_EQ(lost.exitCode, 2) << show(lost);
    EXPECT_TRUE(lost.err.endsWith(
        QStringLiteral("FAILED: The serial port virtual selector was disconnected; nothing was saved\n")))
        << show(lost);
}

TEST_F(QuarvelctlTest, ProgramThenVerifyOverAPty)
{
    Simulator simulator(m_dir, {});
    const QString file = writeImage(QStringLiteral("program.cdt"), patternImage(5));
    const Outcome program = run({"program", "--port", simulator.path(), file, "--verify"});
    EXPECT_EQ(program.exitCode, 0) << show(program);
    // Without a terminal: one line per phase (the line probe, the ranges, the read-back).
    EXPECT_EQ(program.err,
              QStringLiteral("Try to communicate\nProgramming\nVerifying\nProgrammed 184 cells; verified\n"));
    // The line probe's two reads, the ranges, and the whole memory read back.
    const Outcome served = simulator.stop();
    EXPECT_NE(served.out.indexOf(QStringLiteral("reads 191, writes 184, end-of-programming 3,")), -1)
        << show(served);
}

// A loopback plug on a pty: every byte the program sends comes straight back.
class Loopback
{
public:
    Loopback() : m_master(posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) return;
        m_path = QString::fromLocal8Bit(ptsname(m_master));
        m_thread = std::thread([this] {
            char buffer[256];
            while (!m_stop) {
                pollfd fd{m_master, POLLIN, 0};
                if (poll(&fd, 1, 20) <= 0 || !(fd.revents & POLLIN)) continue;
                const ssize_t n = read(m_master, buffer, sizeof buffer);
                if (n > 0 && write(m_master, buffer, static_cast<size_t>(n)) != n) break;
            }
        });
    }
    ~Loopback()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_master >= 0) close(m_master);
    }
    QString path() const { return m_path; }

private:
    int m_master;
    QString m_path;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(QuarvelctlTest, AnEchoingLineIsNeverProgrammedOrPassed)
{
    Loopback loopback;
    ASSERT_FALSE(loopback.path().isEmpty());
    const QString file = writeImage(QStringLiteral("program.cdt"), patternImage(5));
    const Outcome program = run({"program", "--port", loopback.path(), file, "-q"});
    EXPECT_EQ(program.exitCode, 2) << show(program);
    EXPECT_TRUE(program.err.endsWith(QStringLiteral(
        "FAILED: The port echoes what is sent: this is not a coin selector; nothing was programmed\n")))
        << show(program);
    const Outcome gang = run({"gang", "--port", loopback.path(), file, "-q"});
    EXPECT_EQ(gang.exitCode, 2) << show(gang);
    EXPECT_TRUE(gang.out.startsWith("FAIL ")) << show(gang);
}

// A backup never replaces a file unasked, never the file being programmed, and a failed save
// tells the shell something else than a failed read.
TEST_F(QuarvelctlTest, BackupsThatWouldDestroyAFileOrCannotBeWrittenAreRefused)
{
    const QString file = writeImage(QStringLiteral("program.cdt"), patternImage(5));
    const QString other = writeImage(QStringLiteral("other.cdt"), patternImage(6));
    const QByteArray programBytes = fileBytes(file);
    const struct
    {
        QStringList extra;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"--backup", file}, 1, "is the file being programmed"},
        {{"--backup", m_dir.path() + "/./program.cdt", "--force"}, 1, "is the file being programmed"},
        {{"--backup", other}, 1, "already exists"},
        {{"--backup", path("missing/x.cdt")}, 1, "its folder does not exist"},
        // Refused before the selector is read, as a folder there would be.
        {{"--backup", "/proc/self/x.cdt"},
         1,
         "Cannot save the backup /proc/self/x.cdt: its folder cannot be written"},
        {{"--backup", path("folder") + "/", "--fault", "drop:3,drop:4,drop:5,drop:6,drop:7"},
         2,
         "Read selector error at cell 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extra.join(' ').toStdString());
        const Outcome program = run(QStringList{"program", "--port", "sim", file, "-q"} + c.extra);
        EXPECT_EQ(program.exitCode, c.exitCode) << show(program);
        EXPECT_TRUE(program.err.contains(QLatin1String(c.says))) << show(program);
        EXPECT_FALSE(program.err.contains(QLatin1String("Programmed"))) << show(program);
    }
    EXPECT_EQ(fileBytes(file), programBytes);
    EXPECT_EQ(fileBytes(other), QByteArray::fromStdString(serializeCoinData(patternImage(6))));
}

// A selector whose identification cells are not the values programming stamps: only an
// exact restore puts its backup back; another selector's backup is refused unless --force.
TEST_F(QuarvelctlTest, ABackupTakenBeforeProgrammingRestoresTheSelector)
{
    const QString memory = writeImage(QStringLiteral("memory.cdt"), patternImage(3));
    Simulator simulator(m_dir, {"--memory", memory});
    ASSERT_EQ(run({"read", "--port", simulator.path(), "-q", "-o", path("before.cdt")}).exitCode, 0);
    const QString file = writeImage(QStringLiteral("program.cdt"), patternImage(5));
    const Outcome program =
        run({"program", "--port", simulator.path(), "--backup", path("backups") + "/", file});
    EXPECT_EQ(program.exitCode, 0) << show(program);
    const QStringList backups = QDir(path("backups")).entryList(QDir::Files);
    ASSERT_EQ(backups.size(), 1) << show(program);
    const QString backup = path("backups/") + backups.first();
    EXPECT_NE(program.err.indexOf("Programmed 184 cells; verified; backup in " + backup), -1)
        << show(program);
    const Outcome restore = run({"restore", "--port", simulator.path(), backup});
    EXPECT_EQ(restore.exitCode, 0) << show(restore);
    EXPECT_NE(restore.err.indexOf("Restored exactly"), -1) << show(restore);
    ASSERT_EQ(run({"read", "--port", simulator.path(), "-q", "-o", path("after.cdt")}).exitCode, 0);
    EXPECT_EQ(run({"diff", path("before.cdt"), path("after.cdt")}).exitCode, 0);

    // The in-process selector starts from factory memory: another serial number.
    const Outcome other = run({"restore", "--port", "sim", backup, "--trace"});
    EXPECT_EQ(other.exitCode, 1) << show(other);
    EXPECT_NE(other.err.indexOf(QStringLiteral("serial no. %1, this one is").arg((85 * 37 + 3) % 256)), -1)
        << show(other);
    EXPECT_EQ(occurrences(other.err, "write cell"), 0) << show(other);
    const Outcome forced = run({"restore", "--port", "sim", backup, "--force"});
    EXPECT_EQ(forced.exitCode, 0) << show(forced);
    EXPECT_NE(forced.err.indexOf("not restored (no programming writes them)"), -1) << show(forced);
}

TEST_F(QuarvelctlTest, ProgramThenVerifyInProcess)
{
    const QString file = writeImage(QStringLiteral("program.cdt"), patternImage(9));
    const Outcome program =
        run({"program", "--port", "sim", "--fault", "drop:40,badsum:200", file, "--verify", "-q"});
    EXPECT_EQ(program.exitCode, 0) << show(program);
    EXPECT_EQ(program.err, QString());
}

TEST_F(QuarvelctlTest, AFailedRangeDoesNotStopTheNextOnes)
{
    // The line probe's two replies come first.
    Simulator simulator(m_dir,
                        {QStringLiteral("--fault"), QStringLiteral("drop:3,drop:4,drop:5,drop:6,drop:7")});
    const QString file = writeImage(QStringLiteral("program.cdt"), patternImage(5));
    const Outcome program = run({"program", "--port", simulator.path(), file, "--verify", "-q"});
    EXPECT_EQ(program.exitCode, 2) << show(program);
    EXPECT_EQ(program.err,
              QStringLiteral("FAILED: cells 0-84 not programmed (5 time-outs); verify skipped\n"));
    // Five tries at cell 0, then the two other ranges in full; no read-back after a failure.
    const Outcome served = simulator.stop();
    EXPECT_NE(served.out.indexOf(QStringLiteral("reads 2, writes 104, end-of-programming 2,")), -1)
        << show(served);
}

TEST_F(QuarvelctlTest, VerifyListsTheCellsTheSelectorDidNotKeep)
{
    // A selector in this process, so the test can spoil a cell between programming and reading.
    sim::VirtualSelector model;
    sim::PtyBridge bridge(model);
    ASSERT_TRUE(bridge.open());
    const QString file = writeImage(QStringLiteral("program.cdt"), patternImage(5));

    QProcess process;
    prepare(process, m_dir);
    process.setArguments({"program", "--port", bridge.slavePath(), file, "--verify"});
    process.start();
    // The bridge needs this event loop while the program runs; a timer watches for the end of
    // programming (the closing pause leaves 300 ms before the read-back starts).
    bool spoiled = false;
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!spoiled && model.counts().endOfProgramming == 3) {
            model.setCell(6, 99);
            model.setCell(140, 0);
            spoiled = true;
        }
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kRunTimeoutMs, &loop, &QEventLoop::quit);
    watch.start(5);
    loop.exec();
    ASSERT_EQ(process.state(), QProcess::NotRunning);
    ASSERT_TRUE(spoiled);
    const Outcome program = finishedRun(process);
    EXPECT_EQ(program.exitCode, 3) << show(program);
    const ParameterImage sent = patternImage(5);
    EXPECT_EQ(program.out,
              QStringLiteral("address  field                   expected  actual\n") +
                  QStringLiteral("6        coin 1 CoinValue        %1").arg(sent.integer(6), -10) +
                  QStringLiteral("99\n") +
                  QStringLiteral("140      coin 12 ToleranceBC     %1").arg(sent.integer(140), -10) +
                  QStringLiteral("0\n"));
    EXPECT_TRUE(program.err.endsWith(
        QStringLiteral("quarvelctl program: verification failed: 2 of 184 programmed cells differ\n")))
        << show(program);
}

TEST_F(QuarvelctlTest, BadFilesAreRefusedBeforeAnythingIsSent)
{
    Simulator simulator(m_dir, {});
    writeFile(path("short.cdt"), QByteArray("\"7\"\r\n").repeated(100));
    writeFile(path("empty.cdt"), {});
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder.cdt")));
    writeFile(path("binary.cdt"), QByteArray("\"1\"\r\n\x00\x01\xFE", 8));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.cdt")).constData(), 0600), 0);
    ParameterImage unsendable = patternImage(3);
    unsendable.setText(6, "12ab");
    unsendable.setText(140, "-1");
    const QString unsendableFile = writeImage(QStringLiteral("unsendable.cdt"), unsendable);
    const struct
    {
        QString file;
        QString message;
    } cases[] = {
        {path("binary.cdt"),
         QStringLiteral("quarvelctl program: %1 is not a coin data file").arg(path("binary.cdt"))},
        {unsendableFile,
         QStringLiteral(
             "quarvelctl program: %1 has cells that are not numbers 0..255; nothing was sent (--force "
             "sends them as listed):\n  cell 6 \"12ab\" would be sent as 12\n"
             "  cell 140 \"-1\" would be sent as 255\n")
             .arg(unsendableFile)},
        {path("missing.cdt"),
         QStringLiteral("quarvelctl program: Cannot open %1: ").arg(path("missing.cdt"))},
        {path("short.cdt"), QStringLiteral("quarvelctl program: %1 holds 100 values; programming needs 189\n")
                                .arg(path("short.cdt"))},
        {path("empty.cdt"),
         QStringLiteral("quarvelctl program: %1 holds no values\n").arg(path("empty.cdt"))},
        {path("folder.cdt"), QStringLiteral("quarvelctl program: Cannot ")},
        // Opened, it would wait for a writer for ever.
        {path("fifo.cdt"), QStringLiteral("quarvelctl program: Cannot open %1: it is not a regular file\n")
                               .arg(path("fifo.cdt"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const Outcome program = run({"program", "--port", simulator.path(), c.file});
        EXPECT_EQ(program.exitCode, 1) << show(program);
        EXPECT_TRUE(program.err.startsWith(c.message)) << show(program);
    }
    // Teaching before programming would waste the technician's coins on a file that is refused.
    const Outcome teach =
        run({"teach", "--port", simulator.path(), "--channel", "2", "--from", unsendableFile, "--program"});
    EXPECT_EQ(teach.exitCode, 1) << show(teach);
    // A read whose file could not be saved is refused before it starts.
    for (const QString& output : {path("folder.cdt"), path("missing/x.cdt")}) {
        const Outcome read = run({"read", "--port", simulator.path(), "-o", output});
        EXPECT_EQ(read.exitCode, 1) << show(read);
        EXPECT_TRUE(read.err.startsWith(QStringLiteral("quarvelctl read: Cannot save "))) << show(read);
    }
    const Outcome served = simulator.stop();
    EXPECT_TRUE(served.out.startsWith(QStringLiteral("frames 0:"))) << show(served);

    const Outcome forced = run({"program", "--port", "sim", "--force", "--verify", "-q", unsendableFile});
    EXPECT_EQ(forced.exitCode, 0) << show(forced);
}

TEST_F(QuarvelctlTest, ExitCodesAndMessagesOfTheProgramItself)
{
    const QString noDir = path(QStringLiteral("no/such/folder/out.cdt"));
    const struct
    {
        QStringList arguments;
        int exitCode;
        QString err; // start of stderr
    } cases[] = {
        {{}, 1, QStringLiteral("quarvelctl: missing command\nTry 'quarvelctl --help'.\n")},
        {{"read", "--port", "sim", "--memory", path("missing.cdt")},
         1,
         QStringLiteral("quarvelctl read: Cannot open %1: ").arg(path("missing.cdt"))},
        {{"read", "--port", "sim", "--quiet", "-o", noDir},
         1,
         QStringLiteral("quarvelctl read: Cannot save %1: ").arg(noDir)},
        {{"read", "--port", path("no-such-port")},
         2,
         QStringLiteral("quarvelctl read: The serial port %1 could not be opened: ")
             .arg(path("no-such-port"))},
        {{"program", "--port", path("no-such-port"), path("missing.cdt")},
         1,
         QStringLiteral("quarvelctl program: Cannot open %1: ").arg(path("missing.cdt"))},
        {{"show", path("missing.cdt")},
         1,
         QStringLiteral("quarvelctl show: Cannot open %1: ").arg(path("missing.cdt"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Outcome r = run(c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode) << show(r);
        EXPECT_TRUE(r.err.startsWith(c.err)) << show(r);
        EXPECT_EQ(r.out, QString());
    }
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: quarvelctl <command> [options]\n")));
    EXPECT_EQ(help.err, QString());
}

TEST_F(QuarvelctlTest, ShowAndDiff)
{
    ParameterImage image;
    loadMainDefault(image);
    for (int a = 0; a < ParameterImage::kFileCells; ++a) {
        if (image.text(a).empty()) image.setText(a, "0");
    }
    image.setText(6, "25");    // coin 1 value
    image.setText(84, "129");  // mode 2, high inhibit
    image.setText(92, "12.5"); // a fraction programs fine
    image.setText(93, "-1");   // flagged: sent as 255
    const QString a = writeImage(QStringLiteral("a.cdt"), image);
    image.setText(6, "26");
    image.setText(130, "163");
    const QString b = writeImage(QStringLiteral("b.cdt"), image);

    const Outcome text = run({"show", a});
    EXPECT_EQ(text.exitCode, 0) << show(text);
    EXPECT_TRUE(text.out.startsWith(QStringLiteral("Output Mode:        2. Pulse output with INHIBIT\n"
                                                   "Inhibit Level:      High Inhibit\n"
                                                   "Signal Time:        12 x 2 (mS)\n")))
        << show(text);
    EXPECT_NE(text.out.indexOf(QStringLiteral("\nCoin 1:     25     10      5      5  No")), -1)
        << show(text);
    EXPECT_TRUE(text.out.endsWith(QStringLiteral("\"-1\"                        255\n"))) << show(text);

    const Outcome json = run({"show", "--json", a});
    EXPECT_EQ(json.exitCode, 0) << show(json);
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out.toStdString();
    EXPECT_EQ(object[QStringLiteral("outputMode")][QStringLiteral("index")].toInt(), 1);
    const QJsonArray coins = object[QStringLiteral("coins")].toArray();
    ASSERT_EQ(coins.size(), 12);
    EXPECT_EQ(coins[0][QStringLiteral("value")].toInt(), 25);
    EXPECT_EQ(coins[11][QStringLiteral("bank")].toString(), QStringLiteral("B"));
    const QJsonArray flagged = object[QStringLiteral("flagged")].toArray();
    ASSERT_EQ(flagged.size(), 1);
    EXPECT_EQ(flagged[0][QStringLiteral("address")].toInt(), 93);
    EXPECT_EQ(flagged[0][QStringLiteral("asByte")].toInt(), 255);

    const Outcome same = run({"diff", a, a});
    EXPECT_EQ(same.exitCode, 0) << show(same);
    EXPECT_EQ(same.out, QString());

    const Outcome different = run({"diff", a, "-"}, fileBytes(b)); // "-": standard input
    EXPECT_EQ(different.exitCode, 1) << show(different);
    EXPECT_EQ(different.out.toStdString(),
              std::string("  6  coin 1 CoinValue        \"25\" -> \"26\"\n"
                          "130  coin 2 ToleranceBC      \"85\" (Tol-B 5, Tol-C 5) -> \"163\" "
                          "(Tol-B 3, Tol-C 10)\n"
                          "2 cells differ\n"));
    EXPECT_EQ(different.err, QString());

    // A short file is shown over the default image, with a note; an empty one is refused.
    writeFile(path("short.cdt"), "\"1\"\r\n\"2\"\r\n");
    const Outcome shortFile = run({"show", path("short.cdt")});
    EXPECT_EQ(shortFile.exitCode, 0);
    EXPECT_EQ(shortFile.err,
              QStringLiteral("quarvelctl show: note: %1 holds 2 values; selector cells 2..188 keep "
                             "the default image\n")
                  .arg(path("short.cdt")));
    writeFile(path("empty.cdt"), {});
    const Outcome emptyFile = run({"diff", a, path("empty.cdt")});
    EXPECT_EQ(emptyFile.exitCode, 2); // trouble, as cmp and diff say it
    EXPECT_EQ(emptyFile.err, QStringLiteral("quarvelctl diff: %1 holds no values\n").arg(path("empty.cdt")));
}

// SIGHUP is a closed terminal: handled as SIGTERM, never an abrupt end.
TEST_F(QuarvelctlTest, SigtermAndSighupEndAReadWith130AndNoFile)
{
    for (const int signalNumber : {SIGTERM, SIGHUP}) {
        QProcess process;
        prepare(process, m_dir);
        // Wire time makes the read last about a second, long enough to interrupt it.
        process.setArguments({"read", "--port", "sim", "--wire-time", "-o", path("out.cdt")});
        process.start();
        // The first status line means the transfer runs, and the signal handler is in place.
        process.setReadChannel(QProcess::StandardError);
        ASSERT_TRUE(process.waitForReadyRead(10000));
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        const Outcome reading = finishedRun(process);
        EXPECT_EQ(reading.exitCode, 130) << show(reading);
        EXPECT_TRUE(reading.err.endsWith(QStringLiteral("\nInterrupted: nothing was saved\n")))
            << show(reading);
        EXPECT_EQ(reading.err.count(QStringLiteral("Read selector error")), 0) << show(reading);
        EXPECT_FALSE(QFile::exists(path("out.cdt")));
    }
}

TEST_F(QuarvelctlTest, SimulateStopsOnSigtermAndServesStandardStreams)
{
    QProcess pty;
    prepare(pty, m_dir);
    pty.setArguments({"simulate", "--pty"});
    pty.start();
    ASSERT_TRUE(pty.waitForReadyRead(10000));
    pty.terminate();
    const Outcome stopped = finishedRun(pty);
    EXPECT_EQ(stopped.exitCode, 0) << show(stopped);
    EXPECT_TRUE(stopped.out.contains(QStringLiteral("\nframes 0: reads 0,"))) << show(stopped);

    // Without --pty the line is standard input and output: one read request, one reply.
    const Outcome stdio = run({"simulate"}, QByteArray("\xE1\x00\x08\x06\xEF", 5));
    EXPECT_EQ(stdio.exitCode, 0);
    const auto memory = sim::VirtualSelector::factoryMemory();
    const QByteArray reply = stdio.rawOut;
    ASSERT_EQ(reply.size(), 5) << show(stdio);
    EXPECT_EQ(static_cast<std::uint8_t>(reply[0]), 0xE1);
    EXPECT_EQ(static_cast<std::uint8_t>(reply[1]), 0);
    EXPECT_EQ(static_cast<std::uint8_t>(reply[3]), memory[0]);
    EXPECT_TRUE(stdio.err.startsWith(QStringLiteral("frames 1: reads 1,"))) << show(stdio);
}

TEST_F(QuarvelctlTest, TeachInProcessStoresTheChannelAndShowShowsIt)
{
    const Outcome taught =
        run({"teach", "--port", "sim", "--channel", "3", "-o", path("t.cdt"), "--coin-interval", "0"});
    ASSERT_EQ(taught.exitCode, 0) << show(taught);
    EXPECT_TRUE(taught.out.startsWith(QStringLiteral("Sampling ok :"))) << show(taught);
    EXPECT_TRUE(taught.err.endsWith(QStringLiteral("Channel 3 taught; saved %1\n").arg(path("t.cdt"))))
        << show(taught);

    ParameterImage image;
    ASSERT_GT(loadCoinData(fileBytes(path("t.cdt")).toStdString(), image), 0);
    const int refA =
        static_cast<int>(image.integer(address::refAHigh(3)) * 256 + image.integer(address::refALow(3)));
    const auto& coin = sim::coinTypes()[2];
    EXPECT_NEAR(refA, coin.meanA, 4 * coin.spreadA);
    // Nothing but channel 3's references changed in the default image; its A window is 10.
    ParameterImage expected;
    loadMainDefault(expected);
    for (int cell :
         {address::refALow(3), address::refAHigh(3), address::refX(3), address::refY(3), address::refDH(3)})
        expected.setText(cell, image.text(cell));
    expected.setText(address::sigmaA(3), "10");
    EXPECT_EQ(image, expected);

    const Outcome shown = run({"show", path("t.cdt")});
    EXPECT_TRUE(shown.out.contains(QRegularExpression(QStringLiteral("\nCoin 3: .* %1 ").arg(refA))))
        << show(shown);
}

TEST_F(QuarvelctlTest, TeachRefusesBeforeSendingAndEndsAFailedHandshake)
{
    writeFile(path("utf16.cdt"), QByteArray("\xFF\xFE\"\x00"
                                            "1\x00\"\x00\r\x00\n\x00",
                                            12));
    const struct
    {
        QStringList arguments;
        int exitCode;
        QString err; // contained in stderr
    } cases[] = {
        {{"--from", path("missing.cdt")}, 1, QStringLiteral("Cannot open %1").arg(path("missing.cdt"))},
        {{"--from", path("utf16.cdt")},
         1,
         QStringLiteral("%1 is not a coin data file").arg(path("utf16.cdt"))},
        {{"--fault", "drop:1,drop:2,drop:3,drop:4,drop:5"},
         2,
         QStringLiteral("Coin Selector error\nFAILED: Coin Selector error; nothing was written\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        // At a hand's pace: the handshake fails before the first coin.
        const Outcome r =
            run(QStringList{"teach", "--port", "sim", "--channel", "3", "-o", path("t.cdt")} + c.arguments);
        EXPECT_EQ(r.exitCode, c.exitCode) << show(r);
        EXPECT_TRUE(r.err.contains(c.err)) << show(r);
        EXPECT_EQ(r.out, QString());
        EXPECT_FALSE(QFile::exists(path("t.cdt")));
    }
}

TEST_F(QuarvelctlTest, TeachOverAPtyStartsAndEndsSamplingOnTheLineEvenWhenInterrupted)
{
    sim::VirtualSelector model;
    sim::PtyBridge bridge(model);
    ASSERT_TRUE(bridge.open());
    sim::CoinFeeder feeder(bridge);
    feeder.setPace(5, 20);

    // The bridge needs this event loop while quarvelctl runs.
    const auto teach = [&](bool interrupt) {
        QProcess process;
        prepare(process, m_dir);
        process.setArguments(
            {"teach", "--port", bridge.slavePath(), "--channel", "3", "-o", path("t.cdt"), "--calibrate"});
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        // The first status text means the handshake is under way and Ctrl-C is watched for.
        // One signal only: a second one makes quarvelctl leave at once, as a second Ctrl-C should.
        if (interrupt)
            QObject::connect(&process, &QProcess::readyReadStandardError, &process, &QProcess::terminate,
                             Qt::SingleShotConnection);
        QTimer::singleShot(kRunTimeoutMs, &loop, &QEventLoop::quit);
        process.start();
        loop.exec();
        // The bridge may still hold the last frames when the process has already ended.
        // Not asserted here: the frame checks below say what was missing.
        (void)quarvel::testing::waitUntil(
            [&] { return !model.log().empty() && model.log().back().frame[0] == 0x84; }, 2000);
        return finishedRun(process);
    };
    const auto frames = [&] {
        std::vector<std::uint8_t> commands;
        for (const auto& received : model.log())
            commands.push_back(received.frame[0]);
        model.clearLog();
        return commands;
    };

    const Outcome interrupted = teach(true);
    EXPECT_EQ(interrupted.exitCode, 130) << show(interrupted);
    EXPECT_TRUE(
        interrupted.err.endsWith(QStringLiteral("Interrupted: channel 3 not taught; nothing was written\n")))
        << show(interrupted);
    EXPECT_FALSE(QFile::exists(path("t.cdt")));
    EXPECT_EQ(frames(), (std::vector<std::uint8_t>{0xE3, 0x84}));

    feeder.feed(2, 12);
    const Outcome taught = teach(false);
    EXPECT_EQ(taught.exitCode, 0) << show(taught);
    ParameterImage image;
    ASSERT_GT(loadCoinData(fileBytes(path("t.cdt")).toStdString(), image), 0);
    EXPECT_EQ(image.text(address::sigmaA(3)), "0"); // --calibrate keeps the A window
    EXPECT_EQ(frames(), (std::vector<std::uint8_t>{0xE3, 0x84}));
    EXPECT_EQ(model.counts().coins, 12);
}

// An automatic feeder's pace on a wire-time line, one record spoiled on the way: that coin
// alone is not counted and said, and one more coin completes the run.
TEST_F(QuarvelctlTest, ASpoiledRecordAtAFeedersPaceCostsOneCoin)
{
    Simulator simulator(m_dir, {"--wire-time", "--coin-interval", "30", "--fault", "badsum:6"});
    simulator.send("coin 3 x13\n");
    const Outcome taught = run({"teach", "--port", simulator.path(), "--channel", "3", "--trace"});
    EXPECT_EQ(taught.exitCode, 0) << show(taught);
    EXPECT_TRUE(taught.err.contains(QStringLiteral("1 coin not counted: line noise; insert it again")))
        << show(taught);
    EXPECT_TRUE(taught.out.contains(QStringLiteral("Sampling ok :"))) << show(taught);
    EXPECT_EQ(taught.err.count(QStringLiteral("record: A=")), 12) << show(taught);
    EXPECT_EQ(taught.err.count(QStringLiteral("not counted: damaged")), 1) << show(taught);
    EXPECT_TRUE(simulator.stop().out.contains(QStringLiteral("; coins 13")));
}

TEST_F(QuarvelctlTest, SimulateTakesCoinCommandsAndServesOnAfterItsInputEnds)
{
    // Whatever type byte the selector gives a regular coin's record, the run is the same.
    QString first;
    for (const char* type : {"0x10", "0"}) {
        SCOPED_TRACE(type);
        Simulator simulator(m_dir, {"--record-type", type, "--coin-interval", "0"});
        simulator.send("coin 3 x12\nbogus\n");
        simulator.closeInput(); // a script's background job: serving goes on
        const Outcome taught = run({"teach", "--port", simulator.path(), "--channel", "3"});
        EXPECT_EQ(taught.exitCode, 0) << show(taught);
        EXPECT_TRUE(taught.out.startsWith(QStringLiteral("Sampling ok :"))) << show(taught);
        if (first.isEmpty()) first = taught.out;
        EXPECT_EQ(taught.out, first);
        const Outcome served = simulator.stop();
        EXPECT_TRUE(served.out.contains(QStringLiteral("sampling start 1, sampling end 1,"))) << show(served);
        EXPECT_TRUE(served.out.contains(QStringLiteral("; coins 12"))) << show(served);
        EXPECT_TRUE(served.err.contains(QStringLiteral("not a coin command: 'bogus'"))) << show(served);
    }
}

// A reply later than the time-out, at wire pace: the request went out again and both answers
// come, one behind the other. One retry, not the whole read.
TEST_F(QuarvelctlTest, ALateReplyOnAWireTimeLineCostsOneRetry)
{
    Simulator simulator(m_dir, {"--wire-time", "--fault", "late:5:230ms"});
    const Outcome read = run({"read", "--port", simulator.path(), "-o", path("late.cdt")});
    EXPECT_EQ(read.exitCode, 0) << show(read);
}

TEST_F(QuarvelctlTest, OutputGoesStraightToWhatIsNotARegularFile)
{
    const Outcome full = run({"read", "--port", "sim", "-q", "-o", "/dev/full"});
    EXPECT_EQ(full.exitCode, 1) << show(full);
    EXPECT_TRUE(full.err.startsWith(QStringLiteral("quarvelctl read: Cannot save /dev/full: ")))
        << show(full);

    const Outcome stdoutFile = run({"read", "--port", "sim", "-q", "-o", "-"});
    EXPECT_EQ(stdoutFile.exitCode, 0) << show(stdoutFile);
    EXPECT_EQ(stdoutFile.rawOut, expectedReadFile(sim::VirtualSelector::factoryMemory()));
}

TEST_F(QuarvelctlTest, GangProgramsTwoPtysWhileOneLosesItsLineAndLogsBoth)
{
    Simulator good(m_dir, {});
    Simulator dying(m_dir, {"--fault", "gone:60"});
    const QString file = writeImage(QStringLiteral("coins.cdt"), patternImage(5));
    const Outcome gang = run(
        {"gang", "--port", good.path(), "--port", dying.path(), file, "--verify", "--log", path("run.csv")});
    EXPECT_EQ(gang.exitCode, 2) << show(gang);
    EXPECT_TRUE(gang.out.contains(
        QRegularExpression("PASS " + good.path() + "  sn37  184 cells, verified, [0-9.]+ s\n")))
        << show(gang);
    EXPECT_TRUE(gang.out.contains("FAIL " + dying.path() + "  sn37  cells ")) << show(gang);
    EXPECT_TRUE(gang.out.endsWith("2 selectors: 1 passed, 1 failed; 2 attempts\n")) << show(gang);

    const QStringList lines = QString::fromUtf8(fileBytes(path("run.csv"))).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("time,port,adapter,serial_number,result,cells_programmed,verified"));
    const QByteArray sha = QCryptographicHash::hash(fileBytes(file), QCryptographicHash::Sha256).toHex();
    for (const QString& line : lines.mid(1)) {
        const QStringList f = line.split(',');
        ASSERT_EQ(f.size(), 14) << line.toStdString();
        EXPECT_TRUE(QDateTime::fromString(f[0], Qt::ISODateWithMs).isValid()) << line.toStdString();
        const bool passed = f[1] == good.path();
        EXPECT_EQ(f[4], passed ? "PASS" : "FAIL");
        if (passed)
            EXPECT_EQ(f[5], "184");
        else
            EXPECT_EQ(f[5],
                      "52"); // the 60th reply never came: the probe's two, the identity's five, cells 0..51
        EXPECT_EQ(f[6], passed ? "yes" : "no");
        EXPECT_EQ(f[11], file); // absolute: the log may be read from anywhere
        EXPECT_EQ(f[12], QString::fromLatin1(sha));
        EXPECT_EQ(f[13], "37"); // the selector's own serial number
    }
    const Outcome served = good.stop();
    EXPECT_NE(served.out.indexOf(QStringLiteral("reads 196, writes 184, end-of-programming 3,")), -1)
        << show(served);
}

// A log on a full disk: the row is written whole or not at all, the run fails with 2, and an
// existing log gets no second header but a line end before the next row.
TEST_F(QuarvelctlTest, AGangLogThatCannotBeWrittenFailsTheRunAndKeepsWholeRows)
{
    const QString file = writeImage(QStringLiteral("coins.cdt"), patternImage(5));
    const QByteArray earlier = QByteArray(999, 'x'); // a row an earlier full disk cut short
    writeFile(path("run.csv"), earlier);
    QProcess process;
    prepare(process, m_dir);
    process.setProgram(QStringLiteral("/bin/bash"));
    // A file size limit of 1024 bytes (bash counts kilobytes) stands in for the full disk.
    process.setArguments({"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                          QStringLiteral(QUARVELCTL_PATH), "gang", "--port", "sim", file, "--log",
                          path("run.csv")});
    process.start();
    const Outcome gang = finishedRun(process);
    EXPECT_EQ(gang.exitCode, 2) << show(gang);
    EXPECT_TRUE(gang.err.contains("the log could not be written")) << show(gang);
    EXPECT_EQ(fileBytes(path("run.csv")), earlier + '\n');

    // A new log that cannot take even its header: the system's reason, and no empty file left.
    QProcess fresh;
    prepare(fresh, m_dir);
    fresh.setProgram(QStringLiteral("/bin/bash"));
    fresh.setArguments({"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"",
                        QStringLiteral(QUARVELCTL_PATH), "gang", "--port", "sim", file, "--log",
                        path("new.csv")});
    fresh.start();
    const Outcome refused = finishedRun(fresh);
    EXPECT_TRUE(refused.err.contains("Cannot write the log " + path("new.csv") + ": File too large"))
        << show(refused);
    EXPECT_FALSE(QFile::exists(path("new.csv")));
}

// A station whose operator swaps selectors half a second apart (as quick as the polls allow) and takes
// the second off too early: every unit is programmed, the one cut short again once it is back,
// and each row names its selector. Without a terminal the progress is a line per phase.
TEST_F(QuarvelctlTest, AStationProgramsEverySelectorSwappedOnItsPort)
{
    Simulator line(m_dir, {"--swap", "500-500", "--put-back", "2"});
    const QString file = writeImage(QStringLiteral("coins.cdt"), patternImage(5));
    QProcess gang;
    prepare(gang, m_dir);
    gang.setArguments({"gang", "--wait", "--port", line.path(), file, "--log", path("run.csv")});
    gang.start();
    QString out;
    QElapsedTimer clock;
    clock.start();
    while (occurrences(out, "PASS ") + occurrences(out, "FAIL ") < 4 && clock.elapsed() < 60000) {
        gang.waitForReadyRead(1000);
        out += QString::fromUtf8(gang.readAllStandardOutput());
    }
    gang.terminate();
    Outcome run = finishedRun(gang);
    run.out = out + run.out;
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("PASS %1  sn37  ").arg(line.path()))) << show(run);
    EXPECT_TRUE(run.out.contains(QStringLiteral("FAIL %1  sn38  ").arg(line.path()))) << show(run);
    EXPECT_EQ(occurrences(run.out, "  sn38  184 cells"), 1) << show(run);
    EXPECT_EQ(occurrences(run.out, "  sn39  184 cells"), 1) << show(run);
    EXPECT_EQ(occurrences(run.err, "programming 1%"), 0) << show(run);
    EXPECT_EQ(occurrences(run.err, "  programming\n"), 4) << show(run);
    const QStringList rows = QString::fromUtf8(fileBytes(path("run.csv"))).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 5);
    for (const QString& row : rows.mid(1))
        EXPECT_TRUE(row.contains(QRegularExpression(",(37|38|39)$"))) << row.toStdString();
    // sn38 failed, was put back and passed: one selector of three, in four attempts.
    EXPECT_TRUE(run.out.endsWith("3 selectors: 3 passed, 0 failed; 4 attempts\n")) << show(run);
    const Outcome served = line.stop();
    EXPECT_NE(served.out.indexOf(QStringLiteral("units put on 4")), -1) << show(served);
    // No fault plan was given: the swap plan is what took it off.
    EXPECT_TRUE(served.err.contains("quarvelctl simulate: the selector is off the port, as --swap says"))
        << show(served);
}

TEST_F(QuarvelctlTest, HistoryRecordsEachAttemptOnceAndTellsWhatItChanged)
{
    const QString file = writeImage(QStringLiteral("pattern.cdt"), patternImage(5));
    const Outcome programmed = run({"program", "--port", "sim", "--backup", path("before.cdt"), file});
    ASSERT_EQ(programmed.exitCode, 0) << show(programmed);
    ASSERT_EQ(run({"read", "--port", "sim", "--no-history", "-o", path("read.cdt")}).exitCode, 0);

    const Outcome listed = run({"history", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << show(listed);
    const QJsonArray records = QJsonDocument::fromJson(listed.rawOut).array();
    ASSERT_EQ(records.size(), 1) << "--no-history records nothing\n" << show(listed);
    const QJsonObject r = records.at(0).toObject();
    EXPECT_EQ(r["operation"].toString(), QStringLiteral("program"));
    EXPECT_EQ(r["completion"].toString(), QStringLiteral("verified"));
    EXPECT_EQ(r["coin_data_file"].toString(), file);
    EXPECT_EQ(
        r["sha256"].toString(),
        QString::fromLatin1(QCryptographicHash::hash(fileBytes(file), QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(r["memory_before"].toString().size(), 2 * 189);
    EXPECT_EQ(r["memory_after"].toString().size(), 2 * 189);

    const Outcome diff = run({"history", "--diff", r["id"].toString().left(8)});
    EXPECT_EQ(diff.exitCode, 0) << show(diff);
    EXPECT_TRUE(diff.out.contains(QStringLiteral("cells changed"))) << show(diff);
    const Outcome failed = run({"history", "--failed", "--csv"});
    EXPECT_EQ(failed.out.count(QLatin1Char('\n')), 1) << "the header alone\n" << show(failed);
}

} // namespace
} // namespace quarvel
