// The gang on in-process virtual selectors: ports that fail leave the others alone, and a
// station finds its next selector.
#include "link/qt/serial_link.h"
#include "session/gang_run.h"
#include "session/virtual_bench.h"

#include "event_wait.h"

#include "history/history_recorder.h"
#include "history/history_store.h"
#include "session/backup.h"

#include "image/cell_byte.h"
#include "sim/virtual_selector.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace quarvel::session {
namespace {

ParameterImage fileImage()
{
    ParameterImage image;
    for (int a = 0; a < ParameterImage::kCellCount; ++a)
        image.setNumber(a, (a * 7 + 3) % 200);
    return image;
}

// Each port name is a fault plan for its virtual selector.
PortOpener virtualOpener(std::map<QString, sim::VirtualSelector*>* models)
{
    return [models](Device& device, QString* error) {
        const QString plan = device.objectName();
        VirtualSelectorOptions options;
        options.wireTime = plan == QLatin1String("wire");
        if (!options.wireTime) options.faults = *sim::FaultPlan::parse(plan.toStdString()).plan;
        VirtualBench& bench = VirtualBench::of(device);
        if (!bench.open(options, error)) return false;
        driverOf(device).setTiming({20, 5});
        (*models)[plan] = bench.model();
        return true;
    };
}

std::unique_ptr<GangRun> makeRun(const QStringList& plans, const GangJob& job,
                                 std::map<QString, sim::VirtualSelector*>* models)
{
    auto run = std::make_unique<GangRun>(plans, job, virtualOpener(models));
    for (int i = 0; i < run->size(); ++i)
        run->station(i).device().setObjectName(plans.at(i));
    return run;
}

bool holdsFile(const sim::VirtualSelector& model)
{
    const ParameterImage file = fileImage();
    for (int cell : {0, 84, 86, 119, 128, 176, 188})
        if (model.cell(cell) != cellByte(file.text(cell))) return false;
    return true;
}

TEST(GangRun, APulledAndAFaultedPortLeaveTheOthersToPass)
{
    GangJob job;
    job.image = fileImage();
    job.verify = true;
    std::map<QString, sim::VirtualSelector*> models;
    // Reply numbers count the line probe's two reads and the five identity cells first.
    const QStringList plans{"", "gone:40", "drop:107,drop:108,drop:109,drop:110,drop:111", "seed:2"};
    auto runner = makeRun(plans, job, &models);
    GangRun& run = *runner;
    QSignalSpy units(&run, &GangRun::unitFinished);
    QSignalSpy finished(&run, &GangRun::finished);
    // A station lets go of its port (and here its selector) once it is done: look before.
    std::map<QString, bool> holds;
    QObject::connect(&run, &GangRun::unitFinished,
                     [&](const GangUnitResult& r) { holds[r.port] = holdsFile(*models[r.port]); });
    run.start();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    EXPECT_EQ(run.passed(), 2);
    EXPECT_EQ(run.failed(), 2);
    std::map<QString, GangUnitResult> byPort;
    for (const auto& args : units)
        byPort[args.at(0).value<GangUnitResult>().port] = args.at(0).value<GangUnitResult>();
    EXPECT_TRUE(byPort[""].passed && byPort[""].verified);
    EXPECT_TRUE(byPort["seed:2"].passed && byPort["seed:2"].verified);
    EXPECT_EQ(byPort["drop:107,drop:108,drop:109,drop:110,drop:111"].text,
              "cells 100-123 not programmed (5 time-outs)");
    EXPECT_EQ(byPort["drop:107,drop:108,drop:109,drop:110,drop:111"].timeOuts, 5);
    EXPECT_FALSE(byPort["gone:40"].passed);
    EXPECT_TRUE(holds[""] && holds["seed:2"]);
}

// --backup: each unit's memory in a file of its own, in a folder that is never pruned.
TEST(GangRun, BacksUpEachSelectorAndKeepsEveryBackup)
{
    QTemporaryDir dir;
    const BackupFolder folder(dir.path());
    const QDateTime old(QDate(2020, 1, 1), QTime(0, 0));
    for (int i = 0; i < BackupFolder::kKept; ++i) {
        QFile f(folder.newFile(old.addSecs(i), QStringLiteral("COM1"), 1));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    GangJob job;
    job.image = fileImage();
    job.backupDir = dir.path();
    std::map<QString, sim::VirtualSelector*> models;
    auto runner = makeRun({"", "seed:3"}, job, &models);
    QSignalSpy units(runner.get(), &GangRun::unitFinished);
    QSignalSpy finished(runner.get(), &GangRun::finished);
    runner->start();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    ASSERT_EQ(runner->passed(), 2);
    for (const auto& args : units) {
        const auto unit = args.at(0).value<GangUnitResult>();
        EXPECT_TRUE(QFile::exists(unit.backupFile)) << unit.backupFile.toStdString();
    }
    EXPECT_EQ(folder.entries().size(), std::size_t(BackupFolder::kKept + 2));
}

// The selector just programmed answers every poll and is left alone; only one that answers
// after a poll without answer is new.
TEST(GangRun, AStationProgramsEachNewSelectorOnce)
{
    GangJob job;
    job.image = fileImage();
    job.wait = true;
    job.pollMs = 30;
    job.absence = {3, 60};
    std::map<QString, sim::VirtualSelector*> models;
    auto runner = makeRun({"station"}, job, &models);
    GangRun& run = *runner;
    QSignalSpy units(&run, &GangRun::unitFinished);
    QSignalSpy progress(&run, &GangRun::progress);
    const auto waiting = [&] {
        return std::count_if(progress.begin(), progress.end(), [](const QList<QVariant>& args) {
            return args.at(1).toString() == QLatin1String("waiting for the next selector");
        });
    };
    run.start();
    ASSERT_TRUE(units.wait(20000));
    sim::VirtualSelector& model = *models["station"];
    EXPECT_TRUE(holdsFile(model));
    const int replies = model.counts().replies; // polls go on; none may program it again
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return model.counts().replies >= replies + 8; }, 20000));
    EXPECT_EQ(units.count(), 1);
    EXPECT_EQ(model.counts().writes, 184);
    model.disappear();
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return waiting() == 2; }, 20000)); // taken off
    model.plugInNew();
    ASSERT_TRUE(units.wait(20000));
    EXPECT_EQ(units.count(), 2);
    EXPECT_TRUE(holdsFile(model));
    QSignalSpy finished(&run, &GangRun::finished);
    run.interrupt();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
    EXPECT_EQ(run.passed(), 2);
}

// Every selector put on is programmed or reported: one swapped in without a poll going
// unanswered, and one whose programming failed, which is programmed again once it has been
// taken off and put back.
TEST(GangRun, AStationProgramsEverySelectorPutOn)
{
    GangJob job;
    job.image = fileImage();
    job.wait = true;
    job.pollMs = 30;
    job.absence = {3, 60};
    const struct
    {
        const char* plan; // the first unit's faults: five lost writes fail its first range
        bool away;        // taken off long enough to count as an absence first
        bool putBack;     // the same selector comes back, otherwise a new one
        bool firstPassed;
    } cases[] = {
        {"", false, false, true},
        {"drop:200,drop:201,drop:202,drop:203,drop:204", true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plan);
        std::map<QString, sim::VirtualSelector*> models;
        auto runner = makeRun({c.plan}, job, &models);
        QSignalSpy units(runner.get(), &GangRun::unitFinished);
        QSignalSpy progress(runner.get(), &GangRun::progress);
        const auto waiting = [&] {
            return std::count_if(progress.begin(), progress.end(), [](const QList<QVariant>& args) {
                return args.at(1).toString() == QLatin1String("waiting for the next selector");
            });
        };
        runner->start();
        ASSERT_TRUE(units.wait(20000));
        sim::VirtualSelector& model = *models[c.plan];
        if (c.away) {
            const auto before = waiting();
            model.disappear();
            ASSERT_TRUE(quarvel::testing::waitUntil([&] { return waiting() > before; }, 20000)); // taken off
        }
        c.putBack ? model.putBack() : model.plugInNew();
        ASSERT_TRUE(units.count() > 1 || units.wait(20000));
        QSignalSpy finished(runner.get(), &GangRun::finished);
        runner->interrupt();
        ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
        ASSERT_EQ(units.count(), 2);
        const auto first = units.at(0).at(0).value<GangUnitResult>();
        const auto second = units.at(1).at(0).value<GangUnitResult>();
        EXPECT_EQ(first.passed, c.firstPassed);
        EXPECT_TRUE(second.passed);
        EXPECT_EQ(first.serialNo == second.serialNo, c.putBack);
        EXPECT_TRUE(holdsFile(model));
        // A selector put back after it failed is one selector, passed by its last attempt.
        EXPECT_EQ(runner->summary(), c.putBack ? "1 selector: 1 passed, 0 failed; 2 attempts"
                                               : "2 selectors: 2 passed, 0 failed; 2 attempts");
    }
}

// Answers lost while the selector just programmed stays on: one lost poll is no absence, and
// a longer silence ends in a read that knows the selector again. Either way it is programmed once.
TEST(GangRun, AStationNeverProgramsTheSelectorLeftOnTwice)
{
    GangJob job;
    job.image = fileImage();
    job.wait = true;
    job.pollMs = 30;
    job.absence = {3, 60};
    for (const char* plan : {"drop:420", "drop:420,drop:421,drop:422,drop:423,drop:424"}) {
        std::map<QString, sim::VirtualSelector*> models;
        auto runner = makeRun({plan}, job, &models);
        QSignalSpy units(runner.get(), &GangRun::unitFinished);
        runner->start();
        ASSERT_TRUE(units.wait(20000)) << plan;
        sim::VirtualSelector& model = *models[plan];
        ASSERT_TRUE(quarvel::testing::waitUntil([&] { return model.counts().replies > 440; }, 20000));
        EXPECT_EQ(model.counts().writes, 184) << plan; // read before the station lets go of it
        QSignalSpy finished(runner.get(), &GangRun::finished);
        runner->interrupt();
        ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
        EXPECT_EQ(units.count(), 1) << plan;
    }
}

// Ctrl-C in the middle of programming: the unit is reported as partly programmed, never passed
// or dropped, with the cells the selector confirmed.
TEST(GangRun, AnInterruptedRunReportsHowFarProgrammingGot)
{
    GangJob job;
    job.image = fileImage();
    std::map<QString, sim::VirtualSelector*> models;
    auto runner = makeRun({""}, job, &models);
    QSignalSpy units(runner.get(), &GangRun::unitFinished);
    QSignalSpy finished(runner.get(), &GangRun::finished);
    runner->start();
    ASSERT_TRUE(
        quarvel::testing::waitUntil([&] { return models.count("") && models[""]->counts().writes >= 50; }));
    const int writes = models[""]->counts().writes;
    runner->interrupt();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
    ASSERT_EQ(units.count(), 1);
    const auto unit = units.at(0).at(0).value<GangUnitResult>();
    EXPECT_FALSE(unit.passed);
    EXPECT_TRUE(unit.interrupted);
    // The write on its way when the interrupt came may have been answered before it was heard
    // (the event loop's driver reads on its own turn): one of the two counts, nothing else.
    const auto said = [](int cells) {
        return QStringLiteral("interrupted; partly programmed (%1 of 184 cells)").arg(cells);
    };
    EXPECT_TRUE(unit.text == said(writes - 1) || unit.text == said(writes)) << unit.text.toStdString();
}

// Ctrl-C in the backup read, or between programming and verify: said as such, the running
// transfer ended in order, and nothing that should not have been written was.
TEST(GangRun, AnInterruptDuringBackupOrBeforeVerifyIsReportedAsSuch)
{
    QTemporaryDir backups;
    GangJob job;
    job.image = fileImage();
    job.verify = true;
    job.backupDir = backups.path();
    using Phase = ProgramResult::Phase;
    const struct
    {
        Phase interruptAt; // 200 ms into the backup read, or as verify begins
        const char* text;
        int writes;
        int mostReads; // the line probe, the backup cut short or whole, no more than one verify read
    } cases[] = {
        {Phase::Backup, "interrupted; nothing programmed", 0, 2 + 188},
        {Phase::Verify, "184 cells programmed; interrupted before verifying", 184, 2 + 189 + 1},
    };
    for (const auto& c : cases) {
        std::map<QString, sim::VirtualSelector*> models;
        auto runner = makeRun({"wire"}, job, &models);
        Device& device = runner->station(0).device();
        QObject::connect(&device, &Device::operationStarted, runner.get(), [&](Operation* op) {
            auto* program = qobject_cast<ProgramOperation*>(op);
            if (!program) return;
            QObject::connect(program, &ProgramOperation::phaseChanged, runner.get(), [&](Phase phase) {
                if (phase != c.interruptAt) return;
                if (phase == Phase::Backup)
                    QTimer::singleShot(200, runner.get(), [&] { runner->interrupt(); });
                else
                    runner->interrupt();
            });
        });
        int writes = -1;
        int reads = -1;
        QObject::connect(runner.get(), &GangRun::unitFinished, [&] {
            writes = models["wire"]->counts().writes;
            reads = models["wire"]->counts().reads;
        });
        QSignalSpy units(runner.get(), &GangRun::unitFinished);
        QSignalSpy finished(runner.get(), &GangRun::finished);
        runner->start();
        ASSERT_TRUE(finished.wait(20000)) << c.text;
        ASSERT_EQ(units.count(), 1);
        const auto unit = units.at(0).at(0).value<GangUnitResult>();
        EXPECT_EQ(unit.text, QString::fromLatin1(c.text));
        EXPECT_TRUE(unit.interrupted);
        EXPECT_EQ(writes, c.writes) << c.text;
        EXPECT_LE(reads, c.mostReads) << c.text;
    }
}

// Each unit a station programs is one attempt in the history, under the station's name; the reads
// that find the next selector are none.
TEST(GangRun, AStationRecordsEachUnitOnceAndNoneOfItsPolls)
{
    QTemporaryDir dir;
    history::RecorderConfig config;
    config.local.path = dir.filePath(QStringLiteral("history.sqlite"));
    history::HistoryRecorder recorder(config);
    GangJob job;
    job.image = fileImage();
    job.wait = true;
    job.pollMs = 30;
    job.absence = {3, 60};
    job.verify = true;
    job.station = QStringLiteral("line A");
    job.history = &recorder;
    std::map<QString, sim::VirtualSelector*> models;
    auto run = makeRun({"station"}, job, &models);
    QSignalSpy units(run.get(), &GangRun::unitFinished);
    run->start();
    ASSERT_TRUE(units.wait(20000));
    models["station"]->disappear();
    models["station"]->plugInNew();
    ASSERT_TRUE(units.wait(20000));
    QSignalSpy finished(run.get(), &GangRun::finished);
    run->interrupt();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(5000));
    recorder.sync();

    history::HistoryStore store(QStringLiteral("station-check"));
    ASSERT_TRUE(store.open(config.local));
    const auto records = store.find({});
    ASSERT_EQ(records.size(), 2U);
    for (const auto& r : records) {
        EXPECT_EQ(r.operation, QStringLiteral("station"));
        EXPECT_EQ(r.station, QStringLiteral("line A"));
        EXPECT_EQ(r.completion, QStringLiteral("verified"));
    }
    // The second selector was read whole to be known: that read is its memory before.
    EXPECT_EQ(records.front().before.size(), 189);
}

} // namespace
} // namespace quarvel::session
