// The one programming operation against the virtual selector, in-process and through the line
// thread: each phase, each way it can be cut, and the lines it must refuse.
#include "link/qt/serial_link.h"
#include "session/selector_session.h"

#include "image/address_map.h"
#include "image/cell_byte.h"
#include "link/transfer_texts.h"
#include "session/backup.h"
#include "session/document_files.h"
#include "sim/virtual_selector.h"
#include "virtual_line.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quarvel::session {
namespace {

constexpr int kWaitMs = 20000;

// A loopback plug: every byte sent comes straight back.
class EchoDevice : public QIODevice
{
public:
    EchoDevice() { open(QIODevice::ReadWrite); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_pending.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        const qint64 n = std::min<qint64>(max, m_pending.size());
        std::copy_n(m_pending.constData(), n, data);
        m_pending.remove(0, n);
        return n;
    }
    qint64 writeData(const char* data, qint64 size) override
    {
        m_pending.append(data, size);
        QMetaObject::invokeMethod(
            this, [this] { emit readyRead(); }, Qt::QueuedConnection);
        return size;
    }

private:
    QByteArray m_pending;
};

class ProgramOperationTest : public ::testing::Test
{
protected:
    ProgramOperationTest()
    {
        QObject::connect(&driverOf(m_session.device()), &link::SerialLink::frameSent, &m_session,
                         [this](const link::Frame& frame) { m_sent.push_back(frame); });
    }
    void open(const char* faults = "")
    {
        ASSERT_TRUE(m_line.open(m_session, m_kind, *sim::FaultPlan::parse(faults).plan));
        driverOf(m_session.device()).setTiming(testing::quickTiming(m_kind));
        m_sent.clear();
    }
    int writesSent() const
    {
        return static_cast<int>(
            std::count_if(m_sent.begin(), m_sent.end(), [](const link::Frame& f) { return f[0] == 0xE2; }));
    }
    ProgramResult await(Started<ProgramOperation> started)
    {
        EXPECT_TRUE(started) << started.refusalText().toStdString();
        if (!started) return {};
        QSignalSpy spy(started.operation, &ProgramOperation::finished);
        EXPECT_TRUE(spy.wait(kWaitMs));
        return spy.isEmpty() ? ProgramResult{} : spy.takeFirst().at(0).value<ProgramResult>();
    }
    // Runs fn as the n-th frame goes out.
    void atFrame(int n, std::function<void()> fn)
    {
        QObject::connect(&driverOf(m_session.device()), &link::SerialLink::frameSent, &m_session,
                         [this, n, fn] {
                             if (static_cast<int>(m_sent.size()) == n) fn();
                         });
    }

    testing::LineKind m_kind = testing::LineKind::InProcess;
    testing::VirtualLine m_line; // outlives the session's hold on it
    SelectorSession m_session;
    std::vector<link::Frame> m_sent;
    QTemporaryDir m_dir;
};

// The operation as it runs on either line. Tests that tamper with the line itself (a loopback
// device, a selector that vanishes as a port does) stay in-process.
class ProgramOperationOnLine : public ProgramOperationTest,
                               public ::testing::WithParamInterface<testing::LineKind>
{
protected:
    ProgramOperationOnLine() { m_kind = GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Lines, ProgramOperationOnLine, ::testing::ValuesIn(testing::allLines()),
                         testing::lineName);

TEST_P(ProgramOperationOnLine, RunsEveryPhaseAsOneTransferWithOneProgressFigure)
{
    open();
    const auto before = m_line.model()->memory();
    ProgramRequest request;
    request.backup = {BackupPolicy::Kind::Target, m_dir.path(), false}; // a folder, no separator
    request.verify = true;
    const auto started = m_session.program(request);
    ASSERT_TRUE(started);
    QSignalSpy phases(started.operation, &ProgramOperation::phaseChanged);
    QSignalSpy starts(started.operation, &Operation::transferStarted);
    QSignalSpy ends(started.operation, &Operation::transferFinished);
    QSignalSpy reports(started.operation, &Operation::reported);
    const ProgramResult result = await(started);
    ASSERT_TRUE(result.succeeded()) << result.summary().toStdString();
    EXPECT_EQ(result.cellsWritten(), 184);
    EXPECT_TRUE(result.verified);
    EXPECT_EQ(result.backup.state, BackupOutcome::State::Saved);
    EXPECT_EQ(QFileInfo(result.backup.path).absolutePath(), QDir(m_dir.path()).absolutePath());
    const auto saved = checkCoinDataFile(result.backup.path, true);
    ASSERT_TRUE(saved);
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
        ASSERT_EQ(saved.file->image.integer(a), before[static_cast<std::size_t>(a)]) << a;
    EXPECT_EQ(result.summary(), QStringLiteral("Programmed 184 cells; verified; backup in %1")
                                    .arg(QDir::toNativeSeparators(result.backup.path)));
    EXPECT_EQ(starts.size(), 1);
    EXPECT_EQ(ends.size(), 1);
    QList<ProgramResult::Phase> seen;
    for (const auto& args : phases)
        seen << args.at(0).value<ProgramResult::Phase>();
    EXPECT_EQ(seen, (QList<ProgramResult::Phase>{ProgramResult::Phase::Backup, ProgramResult::Phase::Writing,
                                                 ProgramResult::Phase::Verify}));
    int last = 0;
    for (const auto& args : reports) {
        const link::Report report = args.at(0).value<link::Report>();
        const auto* p = std::get_if<link::SetProgress>(&report);
        if (!p) continue;
        EXPECT_GE(p->value, last);
        EXPECT_EQ(p->maximum, 2 + 189 + 184 + 189);
        last = p->value;
    }
    EXPECT_GT(last, 189 + 184);
}

TEST_F(ProgramOperationTest, AnEchoingLineIsNeverProgrammed)
{
    for (const bool backup : {false, true}) {
        SCOPED_TRACE(backup);
        EchoDevice echo;
        driverOf(m_session.device()).attachDevice(&echo, QStringLiteral("loopback"));
        m_sent.clear();
        ProgramRequest request;
        if (backup) request.backup = {BackupPolicy::Kind::Folder, m_dir.path(), false};
        const ProgramResult result = await(m_session.program(request));
        EXPECT_FALSE(result.succeeded());
        EXPECT_EQ(writesSent(), 0);
        EXPECT_EQ(result.backup.state, BackupOutcome::State::NotAsked);
        EXPECT_EQ(result.summary().toStdString(),
                  std::string(link::texts::kEchoingLine) + "; nothing was programmed");
        m_session.device().closePort();
    }
}

// No selector on the line: the failure is named as the programming the user asked for.
TEST_P(ProgramOperationOnLine, NoSelectorIsAProgrammingError)
{
    open("drop:1,drop:2,drop:3,drop:4,drop:5"); // no answer
    const ProgramResult result = await(m_session.program({}));
    EXPECT_EQ(writesSent(), 0);
    EXPECT_TRUE(result.summary().startsWith(QLatin1String(link::texts::kProgramError)))
        << result.summary().toStdString();
    EXPECT_TRUE(result.summary().endsWith("; nothing was programmed")) << result.summary().toStdString();
}

TEST_P(ProgramOperationOnLine, CancelBeforeTheFirstWriteProgramsNothing)
{
    for (const int frame : {1, 60}) { // the probe; the backup read
        SCOPED_TRACE(frame);
        open();
        const auto cancel = QObject::connect(&driverOf(m_session.device()), &link::SerialLink::frameSent,
                                             &m_session, [this, frame] {
                                                 if (static_cast<int>(m_sent.size()) == frame)
                                                     m_session.device().current()->cancel();
                                             });
        ProgramRequest request;
        request.backup = {BackupPolicy::Kind::Folder, m_dir.path(), false};
        const ProgramResult result = await(m_session.program(request));
        EXPECT_EQ(result.reason, link::EndReason::Cancelled);
        EXPECT_EQ(result.summary(), QStringLiteral("Cancelled; nothing programmed"));
        EXPECT_EQ(writesSent(), 0);
        QObject::disconnect(cancel);
    }
}

// A listener that cancels as it hears of the writes ends the run inside the device's own call.
TEST_P(ProgramOperationOnLine, ACancelOnHearingOfTheWritesWritesNothing)
{
    open();
    const auto started = m_session.program({});
    ASSERT_TRUE(started);
    QObject::connect(started.operation, &ProgramOperation::phaseChanged, &m_session,
                     [op = started.operation](ProgramResult::Phase phase) {
                         if (phase == ProgramResult::Phase::Writing) op->cancel();
                     });
    EXPECT_EQ(await(started).reason, link::EndReason::Cancelled);
    EXPECT_EQ(writesSent(), 0);
}

TEST_P(ProgramOperationOnLine, ARunCutBetweenTwoRangesIsNoSuccess)
{
    open();
    // Cancelled as the first range ends, in its closing pause: no transfer is running then.
    QObject::connect(&driverOf(m_session.device()), &link::SerialLink::transferEnded, &m_session,
                     [this](const link::TransferSummary& s) {
                         if (s.cellsDone == 85) m_session.device().current()->cancel();
                     });
    const ProgramResult result = await(m_session.program({}));
    EXPECT_FALSE(result.succeeded());
    ASSERT_EQ(result.ranges.size(), 1u);
    EXPECT_EQ(result.cellsWritten(), 85);
    EXPECT_TRUE(result.summary().contains(QStringLiteral("cells 86-123 not programmed (not reached)")))
        << result.summary().toStdString();
}

TEST_F(ProgramOperationTest, APulledPortIsWordedPortLostNotCancelled)
{
    open("gone:40"); // two probe replies, then 37 writes
    const ProgramResult result = await(m_session.program({}));
    ASSERT_EQ(result.ranges.size(), 1u);
    EXPECT_EQ(result.ranges[0].reason, link::EndReason::PortLost);
    EXPECT_TRUE(result.failureSummary().startsWith(QStringLiteral("cells 37-84 not programmed (port lost)")))
        << result.failureSummary().toStdString();
}

TEST_P(ProgramOperationOnLine, BackupAndVerifyReadsHaveFivePerRange)
{
    // Four time-outs in each of two backup ranges: nine would end one whole-memory read.
    open("drop:3,drop:4,drop:5,drop:6,drop:100,drop:101,drop:102,drop:103");
    ProgramRequest request;
    request.backup = {BackupPolicy::Kind::Folder, m_dir.path(), false};
    EXPECT_TRUE(await(m_session.program(request)).succeeded());

    // The fifth in one range ends it, named where and why.
    open("drop:3,drop:4,drop:5,badsum:6,drop:7");
    const ProgramResult failed = await(m_session.program(request));
    EXPECT_EQ(failed.backup.state, BackupOutcome::State::ReadFailed);
    EXPECT_EQ(
        failed.message,
        QStringLiteral("Read selector error at cell 0: 5 failed exchanges (4 time-outs, 1 bad checksum)"));
    EXPECT_EQ(writesSent(), 0);
}

TEST_P(ProgramOperationOnLine, ASaveThatFailsAfterTheReadIsNotAReadFailure)
{
    open();
    const QString folder = m_dir.filePath(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkpath(folder));
    atFrame(5, [folder] { QDir(folder).removeRecursively(); });
    ProgramRequest request;
    request.backup = {BackupPolicy::Kind::Target, folder + QStringLiteral("/x.cdt"), false};
    const ProgramResult result = await(m_session.program(request));
    EXPECT_EQ(result.backup.state, BackupOutcome::State::SaveFailed);
    EXPECT_TRUE(result.summary().startsWith(QStringLiteral("The backup could not be saved:")));
    EXPECT_EQ(writesSent(), 0);
}

TEST_P(ProgramOperationOnLine, RestoreIsExactAndAsksBeforeAnotherSelectorsBackup)
{
    open();
    sim::VirtualSelector& model = *m_line.model();
    model.setCell(address::kSerialNo, 42);
    ParameterImage backup;
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
        backup.setNumber(a, (a * 11 + 7) % 250); // fixed cells too hold values of their own
    backup.setNumber(address::kSerialNo, 17);
    for (int cell = 124; cell <= 127; ++cell)
        backup.setNumber(cell, model.cell(cell));
    ProgramRequest request;
    request.image = backup;
    request.exact = true;
    request.verify = true;
    const auto started = m_session.program(request);
    ASSERT_TRUE(started);
    QString asked;
    QObject::connect(started.operation, &ProgramOperation::question, &m_session, [&](const QString& text) {
        asked = text;
        started.operation->proceed();
    });
    const ProgramResult result = await(started);
    EXPECT_EQ(asked, QStringLiteral("This backup was taken from another selector (serial no. 17, this one is "
                                    "42). Restore it anyway?"));
    ASSERT_TRUE(result.succeeded()) << result.summary().toStdString();
    for (const int cell : {120, 123, 177, 182})
        EXPECT_EQ(model.cell(cell), backup.integer(cell)) << cell;
    EXPECT_EQ(result.notRestored, std::vector<int>{address::kSerialNo});
    EXPECT_TRUE(result.summary().startsWith(QStringLiteral("Restored 184 cells; not restored")));
}

// A restore programs the backup, not the document: edits in the document are not saved by it.
TEST_P(ProgramOperationOnLine, ARestoreLeavesAnEditedDocumentUnsaved)
{
    open();
    m_session.document().edit(ChangeSource::Edit,
                              [&](ParameterImage& image) { image.setNumber(address::coinValue(3), 99); });
    ASSERT_TRUE(m_session.document().isModified());
    ProgramRequest request;
    request.image = m_line.model()->image();
    request.exact = true;
    request.verify = true;
    ASSERT_TRUE(await(m_session.program(request)).succeeded());
    EXPECT_TRUE(m_session.document().isModified());
}

// The line probe reads two cells: a selector whose cell 0 answers with the read request's own
// bytes is no echo, as its cell 1 shows.
TEST_P(ProgramOperationOnLine, ACellZeroThatLooksLikeAnEchoIsNoEcho)
{
    open();
    sim::VirtualSelector& model = *m_line.model();
    model.setReadReplyByte2(8); // the read request's byte 2
    model.setCell(0, 6);        // and its byte 3
    ProgramRequest request;
    const ProgramResult result = await(m_session.program(request));
    EXPECT_TRUE(result.succeeded()) << result.summary().toStdString();
}

// The backup being restored may be the oldest of the folder: a restore never prunes it.
TEST_P(ProgramOperationOnLine, ABackupBeforeARestorePrunesNothing)
{
    const BackupFolder folder(m_dir.path());
    const QDateTime old(QDate(2020, 1, 1), QTime(0, 0));
    for (int i = 0; i < BackupFolder::kKept; ++i) {
        QFile f(folder.newFile(old.addSecs(i), QStringLiteral("COM1"), 0));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    open();
    ProgramRequest request;
    request.image = m_line.model()->image();
    request.exact = true;
    request.backup = {BackupPolicy::Kind::Folder, m_dir.path(), false};
    ASSERT_TRUE(await(m_session.program(request)).succeeded());
    EXPECT_EQ(folder.entries().size(), std::size_t(BackupFolder::kKept + 1));
}

TEST_P(ProgramOperationOnLine, ChannelsNeitherTaughtNorEditedAreNotReplacedUnasked)
{
    open();
    ParameterImage document = m_session.document().image();
    for (int a = 0; a < ParameterImage::kSelectorCells; ++a)
        document.setNumber(a, m_line.model()->cell(a));
    document.setNumber(address::refX(1), 2);
    document.setNumber(address::refY(2), 2); // channels 1 and 2 differ, changed by no one here
    m_session.document().replace(document, ChangeSource::File);
    m_session.document().edit(ChangeSource::Edit, [](ParameterImage& image) { // 3 and 5 edited here
        image.setNumber(address::coinValue(3), 99);
        image.setNumber(address::refX(5), 1);
    });
    ProgramRequest request;
    request.guardChannels = true;
    request.backup = {BackupPolicy::Kind::Folder, m_dir.path(), false};
    const auto started = m_session.program(request);
    ASSERT_TRUE(started);
    QString asked;
    QObject::connect(started.operation, &ProgramOperation::question, &m_session, [&](const QString& text) {
        asked = text;
        started.operation->cancel();
    });
    const ProgramResult result = await(started);
    EXPECT_EQ(asked.toStdString(), "Programming changes channels 1, 2 (references). Continue?");
    EXPECT_EQ(result.summary(), QStringLiteral("Cancelled; nothing programmed"));
    EXPECT_EQ(writesSent(), 0);
}

TEST(BackupTarget, NoBackupDestroysAFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("same.cdt"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString sameSpelledOtherwise = dir.path() + QStringLiteral("/./same.cdt");
    const QString link = dir.filePath(QStringLiteral("link.cdt"));
    ASSERT_TRUE(QFile::link(file, link));
    const struct
    {
        QString target;
        bool overwrite;
        bool refused;
        bool folder;
    } cases[] = {
        {sameSpelledOtherwise, true, true, false}, // the file being programmed
#ifndef Q_OS_WIN                   // a link there is a shortcut file, not one the file system follows
        {link, true, true, false}, // ...behind a link
#endif
        {file + QStringLiteral("x"), false, false, false}, // a new file
        {dir.filePath(QStringLiteral("missing/x.cdt")), false, true, false},
        {dir.path(), false, false, true},                           // a folder without a separator
        {dir.filePath(QStringLiteral("new/")), false, false, true}, // made
        // There, but no file can be made in it, whatever its permissions tell root.
        {QStringLiteral("/proc/self/"), false, true, true},
        {QStringLiteral("/proc/self/backup.cdt"), false, true, false}, // a file there, the same
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target.toStdString());
        const BackupTarget t = resolveBackupTarget({BackupPolicy::Kind::Target, c.target, c.overwrite}, file);
        EXPECT_EQ(t.refusal.has_value(), c.refused);
        EXPECT_EQ(t.folder, c.folder);
    }
    // A folder given with a separator too many is named as the user knows it.
#ifndef Q_OS_WIN // a POSIX folder
    EXPECT_TRUE(
        refusalText(*resolveBackupTarget({BackupPolicy::Kind::Target, "/proc/self//", false}, {}).refusal)
            .startsWith("Cannot write in the backup folder /proc/self: "));
#endif
    // Another existing file is replaced only when asked.
    EXPECT_TRUE(resolveBackupTarget({BackupPolicy::Kind::Target, file, false}, {}).refusal);
    EXPECT_FALSE(resolveBackupTarget({BackupPolicy::Kind::Target, file, true}, {}).refusal);
}

// However a selector answers writes, a range programs whole without verify, and a late reply
// followed by a lost request leaves no cell unwritten: what the replies cannot prove is read
// back once the range is closed and written again where it differs.
TEST_P(ProgramOperationOnLine, EveryWayOfAnsweringAWriteProgramsExactlyUnverified)
{
    struct Case
    {
        sim::WriteEcho echo;
        const char* faults;
    };
    const Case cases[] = {
        {sim::WriteEcho::Nothing, ""},
        {sim::WriteEcho::Constant, ""},
        {sim::WriteEcho::AddressOnly, ""},
        {sim::WriteEcho::Masked, ""},
        {sim::WriteEcho::OldValue, ""},
        {sim::WriteEcho::Partly, ""},
        {sim::WriteEcho::Nothing, "late:12:90ms,lost:40"},
        {sim::WriteEcho::Request, "late:12:90ms,lost:40"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.echo)) + " " + c.faults);
        open(c.faults);
        m_line.model()->setWriteEcho(c.echo);
        ParameterImage image;
        for (int a = 0; a < ParameterImage::kSelectorCells; ++a) {
            image.setNumber(a, (a * 7 + 3) % 256);
            m_line.model()->setCell(a, static_cast<std::uint8_t>(a * 7 + 4));
        }
        ProgramRequest request;
        request.image = image;
        request.verify = false;
        const ProgramResult result = await(m_session.program(request));
        EXPECT_TRUE(result.succeeded()) << result.summary().toStdString();
        EXPECT_EQ(result.faults.count(link::ExchangeFault::WrongEcho), 0);
        for (const auto& range : address::kProgrammingRanges)
            for (int a = range.first; a <= range.last; ++a)
                EXPECT_EQ(m_line.model()->cell(a), quarvel::cellByte(result.sent.text(a))) << "cell " << a;
    }
}

} // namespace
} // namespace quarvel::session
