// The main window over a session whose port 1 is a virtual selector on a pty: start-up, ports,
// closing, and Open & Program.
#include "event_wait.h"
#include "image/coin_data_file.h"
#include "image/default_image.h"
#include "image/qt/state_file_io.h"
#include "link/qt/serial_link.h"
#include "session/backup.h"
#include "session/document_files.h"
#include "session/port_names.h"
#include "sim/fault_plan.h"
#include "sim/qt/pty_bridge.h"
#include "sim/virtual_selector.h"
#include "ui/main/main_window.h"
#include "ui/main/safe_programming.h"
#include "ui/main/window_geometry.h"
#include "ui/sampling/sampling_window.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace quarvel {
namespace {

QString writeFile(const QString& path, const std::string& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), static_cast<qint64>(text.size()));
    return path;
}

std::string coinData(int values, int firstValue)
{
    std::string text;
    for (int k = 0; k < values; ++k)
        text += "\"" + std::to_string(k == 0 ? firstValue : (k * 7) % 200) + "\"\r\n";
    return text;
}

class MainWindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // QSettings fixes its folder at first use: one private home for the whole binary.
        static QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
        QCoreApplication::setOrganizationName("quarvel");
        QCoreApplication::setApplicationName("quarvel");
    }

    void SetUp() override
    {
        QSettings().clear();
        QFile::remove(stateFilePath());
        ASSERT_TRUE(bridge.open());
        window = std::make_unique<MainWindow>(session);
        // Port 1 is the virtual selector; every other fixed port is missing.
        window->setFixedPortNames([this](int port) {
            return port == 1 ? bridge.slavePath() : QStringLiteral("/nonexistent/port%1").arg(port);
        });
        window->setFileChooser([this](QWidget*, FileChoice, const QString& title, const QString&,
                                      std::function<void(const QString&)> done) {
            titles.append(title);
            done(chosen);
        });
    }

    void TearDown() override
    {
        window.reset();
        session.device().closePort();
    }

    bool checked(const char* action) { return window->findChild<QAction*>(action)->isChecked(); }
    QString status() { return window->findChild<QLabel*>("labelStats")->text(); }
    QColor statusColour()
    {
        return window->findChild<QLabel*>("labelStats")->palette().color(QPalette::WindowText);
    }

    QTemporaryDir files;
    sim::VirtualSelector model;
    sim::PtyBridge bridge{model};
    session::SelectorSession session;
    std::unique_ptr<MainWindow> window;
    QString chosen;
    QStringList titles;
};

TEST_F(MainWindowTest, StartsOnDefaultsWithoutStateFile)
{
    window->startUp();
    EXPECT_TRUE(checked("mnuCom1"));
    EXPECT_EQ(session.device().portName(), bridge.slavePath());
    EXPECT_EQ(status(), "");
    EXPECT_EQ(session.document().image().text(4), "10"); // the main default, no recent file overlaid
    EXPECT_TRUE(QString::fromStdString(window->state().recentName1).endsWith("/coin.syn"));
    EXPECT_EQ(window->windowTitle(), "QUARVEL   Coin Selector programmer (Quarvel to Tesmor)");
    EXPECT_GE(window->width(), window->sizeHint().width()); // every task button shows
}

TEST_F(MainWindowTest, StateFileNamesRecentFileAndHighestMarkedPort)
{
    const QString recent = writeFile(files.filePath("last.cdt"), coinData(256, 42));
    writeFile(stateFilePath(),
              "\"" + recent.toStdString() + "\"\r\n\"b.cdt\"\r\n#FALSE#\r\n#TRUE#\r\n#FALSE#\r\n#TRUE#\r\n");
    window->startUp();
    EXPECT_TRUE(checked("MnuCom4"));
    EXPECT_FALSE(checked("mnuCom2"));
    EXPECT_EQ(session.document().image().text(0), "42");
    // Port 4 is not there: said in red, and the program goes on with the port closed.
    // The program's own words first, then the reason, as quarvelctl gives it.
    EXPECT_EQ(status(), "warning:something wrong to open /nonexistent/port4: The serial port "
                        "/nonexistent/port4 could not be opened: No such file or directory (the serial "
                        "ports found are listed by quarvelctl ports and in the System menu)");
    EXPECT_EQ(statusColour(), QColor(255, 0, 0));
    EXPECT_FALSE(session.device().isOpen());
}

TEST_F(MainWindowTest, PortEntriesSayWhatHappened)
{
    window->startUp();
    window->findChild<QAction*>("MnuCom9")->trigger();
    EXPECT_TRUE(status().startsWith("warning:something wrong to open COM9: The serial port "))
        << status().toStdString();
    EXPECT_EQ(statusColour(), QColor(255, 0, 0));
    EXPECT_TRUE(checked("mnuCom1"));
    EXPECT_FALSE(checked("MnuCom9"));
    EXPECT_EQ(session.device().portName(), bridge.slavePath());

    window->findChild<QAction*>("mnuCom1")->trigger();
    EXPECT_EQ(status(), "commucation port use com1:");
    EXPECT_EQ(statusColour(), QColor(0, 0, 255));
}

TEST_F(MainWindowTest, OnlyExitWritesStateAndMinimisedCloseKeepsGeometry)
{
    window->startUp();
    window->show();
    window->showMinimized();
    window->close();
    EXPECT_FALSE(QSettings().contains("Settings/MainLeft"));
    EXPECT_FALSE(QFile::exists(stateFilePath()));

    window->showNormal();
    window->findChild<QPushButton*>("ComExit")->click();
    EXPECT_TRUE(QSettings().contains("Settings/MainWidth"));
    const StateFileLoad saved = loadStateFile(stateFilePath());
    ASSERT_TRUE(saved.found);
    EXPECT_EQ(saved.state.recentName1, window->state().recentName1);
    EXPECT_FALSE(session.device().isOpen());
}

TEST_F(MainWindowTest, OpenAndProgramRefusesShortFile)
{
    window->startUp();
    const std::string recentBefore = window->state().recentName1;
    chosen = writeFile(files.filePath("short.cdt"), coinData(100, 9));
    // The menu shows the caption with its "&", not a mnemonic on the blank after it.
    EXPECT_EQ(window->findChild<QAction*>("mnuOpen_Program")->iconText(), "Open & Program");
    window->findChild<QAction*>("mnuOpen_Program")->trigger();
    EXPECT_EQ(titles, QStringList{"open"});
    EXPECT_EQ(statusColour(), QColor(255, 0, 0));
    EXPECT_TRUE(status().contains("189")) << status().toStdString();
    EXPECT_FALSE(session.device().isBusy());
    EXPECT_EQ(session.document().image().text(0), "0"); // not loaded either
    EXPECT_EQ(window->state().recentName1, recentBefore);
    EXPECT_EQ(window->samplingWindow(), nullptr);
}

TEST_F(MainWindowTest, OpenAndProgramProgramsThenCalibrates)
{
    window->startUp();
    model.setCell(85, 123);
    chosen = writeFile(files.filePath("good.cdt"), coinData(256, 77));
    window->findChild<QAction*>("mnuOpen_Program")->trigger();
    // Asked once before writing, naming the file and the port.
    auto* ask = window->findChild<QMessageBox*>("ConfirmOpenProgram");
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(ask->text(),
              QStringLiteral("Program the selector on %1 with %2?").arg(bridge.slavePath(), chosen));
    EXPECT_FALSE(session.device().isBusy());
    ask->buttons().constFirst()->click();
    EXPECT_FALSE(window->findChild<QPushButton*>("ComEdit")->isEnabled()); // busy
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return window->samplingWindow() != nullptr; }, 30000));
    EXPECT_EQ(model.cell(0), 77);
    EXPECT_EQ(model.cell(85), 123);
    EXPECT_EQ(session.document().cdt(), sampling::ReferenceStore::Calibrated);
    EXPECT_EQ(window->samplingWindow()->windowTitle(), "Calibration");
    EXPECT_EQ(window->samplingState().operation, SamplingState::Mode::Calibration);
    EXPECT_TRUE(window->findChild<QPushButton*>("ComEdit")->isEnabled());
}

TEST_F(MainWindowTest, ProgrammingThatFailedOpensNoCalibration)
{
    window->startUp();
    window->findChild<QAction*>("mnuBackup")->setChecked(false);
    driverOf(session.device()).setTiming({.replyTimeoutMs = 40, .closingPauseMs = 5});
    model.setFaultPlan(*sim::FaultPlan::parse("gone:3").plan); // after the line probe
    chosen = writeFile(files.filePath("good.cdt"), coinData(256, 77));
    window->findChild<QAction*>("mnuOpen_Program")->trigger();
    window->findChild<QMessageBox*>("ConfirmOpenProgram")->buttons().constFirst()->click();
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return !session.device().isBusy(); }, 30000));
    quarvel::testing::settle();
    EXPECT_EQ(window->samplingWindow(), nullptr);
    EXPECT_EQ(statusColour(), QColor(255, 0, 0));
    EXPECT_TRUE(status().contains("not programmed")) << status().toStdString();
}

TEST_F(MainWindowTest, ExitWhileProgrammingAsksAndKeepProgrammingFinishesWithABackup)
{
    window->startUp();
    QTemporaryDir backups;
    window->setBackupFolder(backups.path());
    window->show();
    bool ended = false;
    QString said;
    window->programToSelector([&](bool ok, const QString& text) {
        ended = ok;
        said = text;
    });
    // The defaults would replace every taught channel of this selector: asked first.
    QMessageBox* replace = nullptr;
    ASSERT_TRUE(quarvel::testing::waitUntil(
        [&] { return (replace = window->findChild<QMessageBox*>("ConfirmProgram")); }, 30000));
    EXPECT_TRUE(replace->text().startsWith("Programming changes channels 1\u201312"))
        << replace->text().toStdString();
    replace->buttons().constFirst()->click();
    ASSERT_FALSE(session::stopProgrammingQuestion(session.device().current()).isEmpty());
    window->close();
    auto* ask = window->findChild<QMessageBox*>("ConfirmStop");
    ASSERT_NE(ask, nullptr);
    EXPECT_TRUE(window->isVisible());
    ask->defaultButton()->click(); // keep programming
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return ended; }, 30000)) << said.toStdString();
    EXPECT_EQ(model.counts().endOfProgramming, 3);
    EXPECT_EQ(session::BackupFolder(backups.path()).entries().size(), 1u);
    EXPECT_TRUE(said.startsWith("Programmed 184 cells; verified; backup in ")) << said.toStdString();
    EXPECT_EQ(status(), said);
}

// A backup that could not be taken asks whether to program without one, saying which part
// failed; the window where the user acted already says nothing was programmed.
TEST_F(MainWindowTest, AFailedBackupSaysWhatFailedAndOffersToProgramWithoutOne)
{
    const QString notAFolder = writeFile(files.filePath("plain"), "x");
    const struct
    {
        QString folder;
        const char* faults;
        const char* question;
    } cases[] = {
        {notAFolder + "/backups", "", "The backup could not be saved (Cannot create the backup folder"},
        {files.filePath("backups"), "drop:3,drop:4,drop:5,drop:6,drop:7",
         "Could not read the selector's memory to back it up. Program anyway?"},
    };
    window->startUp();
    driverOf(session.device()).setTiming({.replyTimeoutMs = 40, .closingPauseMs = 5});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.question);
        window->setBackupFolder(c.folder);
        model.setFaultPlan(*sim::FaultPlan::parse(c.faults).plan);
        QStringList said;
        window->programToSelector([&](bool, const QString& text) { said << text; });
        QMessageBox* ask = nullptr;
        ASSERT_TRUE(quarvel::testing::waitUntil(
            [&] { return (ask = window->findChild<QMessageBox*>("ConfirmNoBackup")); }, 30000));
        EXPECT_TRUE(ask->text().startsWith(QLatin1String(c.question))) << ask->text().toStdString();
        ASSERT_EQ(said.size(), 1);
        EXPECT_TRUE(said[0].endsWith("; nothing was programmed")) << said[0].toStdString();
        ask->buttons().constFirst()->click(); // program anyway
        ASSERT_TRUE(quarvel::testing::waitUntil([&] { return said.size() == 2; }, 30000));
        EXPECT_EQ(said[1], "Programmed 184 cells; verified");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// The stop question speaks of a run going on: when the run ends first, it stays under the
// pointer with the outcome and one OK, so that a click meant for it never lands on Exit; until
// then the status window keeps its Cancel.
TEST_F(MainWindowTest, TheStopQuestionTurnsIntoTheOutcomeWhenTheRunEndsFirst)
{
    window->startUp();
    window->findChild<QAction*>("mnuBackup")->setChecked(false);
    bridge.setWireTime(true);
    window->show();
    QString said;
    window->programToSelector([&](bool, const QString& text) { said = text; });
    ASSERT_TRUE(quarvel::testing::waitUntil(
        [&] { return !session::stopProgrammingQuestion(session.device().current()).isEmpty(); }, 30000));
    window->findChild<QPushButton*>("ComExit")->click();
    QPointer<QMessageBox> ask = window->findChild<QMessageBox*>("ConfirmStop");
    ASSERT_NE(ask, nullptr);
    ASSERT_NE(window->statusPresenter().window(), nullptr);
    EXPECT_TRUE(window->statusPresenter().window()->comCancel()->isVisible());
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return !said.isEmpty(); }, 30000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(ask.isNull());
    EXPECT_EQ(ask->text(), "It ended before your answer: Programmed 184 cells; verified");
    ASSERT_EQ(ask->buttons().size(), 1);
    ask->buttons().constFirst()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(status(), "Programmed 184 cells; verified");
}

// Exit while a read runs asks as it does while programming; Escape keeps the read going.
TEST_F(MainWindowTest, ExitWhileAReadRunsAsksFirst)
{
    window->startUp();
    bridge.setWireTime(true);
    window->show();
    window->findChild<QPushButton*>("ComEdit")->click();
    ASSERT_TRUE(session.device().isBusy());
    window->findChild<QPushButton*>("ComExit")->click();
    auto* ask = window->findChild<QMessageBox*>("ConfirmStop");
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(ask->text(), "Reading the selector is not finished. Stop it and close QUARVEL?");
    QTest::keyClick(ask, Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(session.device().isBusy());
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return window->settingsForm() != nullptr; }, 30000));
}

// Taught work that was neither saved nor programmed is asked about before a read replaces it,
// with the question Exit asks: Cancel reads nothing, Discard reads.
TEST_F(MainWindowTest, AReadAsksBeforeReplacingUnsavedWork)
{
    window->startUp();
    window->show();
    session.document().edit(session::ChangeSource::Sampling,
                            [](ParameterImage& image) { image.setText(40, "99"); });
    const int readsBefore = model.counts().reads;
    for (const char* opener : {"ComEdit", "ComCal"}) {
        window->findChild<QPushButton*>(opener)->click();
        auto* box = window->findChild<QMessageBox*>("ConfirmSaveChanges");
        ASSERT_NE(box, nullptr) << opener;
        EXPECT_EQ(box->text(), "The settings have changes that were neither saved nor programmed. Save them "
                               "before the settings read from the selector replace them?");
        QTest::keyClick(box, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(model.counts().reads, readsBefore);
    EXPECT_EQ(session.document().image().text(40), "99");
    window->findChild<QPushButton*>("ComEdit")->click();
    window->findChild<QMessageBox*>("ConfirmSaveChanges")->button(QMessageBox::Discard)->click();
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return window->settingsForm() != nullptr; }, 30000));
    EXPECT_FALSE(session.document().hasUnsavedWork());
}

// After the Edit window closes with Escape: The keyboard focus goes back to Edit Coin Selector,
// the button that opened it, and Enter on Exit never ends the program.
TEST_F(MainWindowTest, FocusReturnsToTheOpenerAndEnterNeverExits)
{
    window->startUp();
    window->show();
    auto* edit = window->findChild<QPushButton*>("ComEdit");
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(quarvel::testing::waitUntil(
        [&] { return window->settingsForm() != nullptr && !session.device().isBusy(); }, 30000));
    SettingsForm* form = window->settingsForm();
    QTest::keyClick(form, Qt::Key_Escape);
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return window->settingsForm() == nullptr; }, 5000));
    EXPECT_EQ(window->focusWidget(), edit);
    auto* exit = window->findChild<QPushButton*>("ComExit");
    exit->setFocus();
    QTest::keyClick(exit, Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, VerifyAfterProgrammingCanBeTurnedOffAndStaysOff)
{
    window->startUp();
    window->findChild<QAction*>("mnuBackup")->setChecked(false);
    window->findChild<QAction*>("mnuVerify")->setChecked(false);
    EXPECT_FALSE(SafeProgramming(session, nullptr).verify()); // the next start keeps it
    const int readsBefore = model.counts().reads;
    QString said;
    window->programToSelector([&](bool, const QString& text) { said = text; });
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return !said.isEmpty(); }, 30000));
    EXPECT_EQ(said, "Programmed 184 cells");
    EXPECT_EQ(model.counts().reads - readsBefore, 2); // the line probe alone
}

TEST_F(MainWindowTest, AnOpenerReloadsTheFormItFindsAndAsksBeforeDroppingEdits)
{
    window->startUp();
    window->findChild<QPushButton*>("ComTeach")->click();
    SettingsForm* form = window->settingsForm();
    ASSERT_NE(form, nullptr);
    model.setCell(6, 200);
    window->findChild<QPushButton*>("ComEdit")->click();
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return form->windowTitle() == "Edit"; }, 30000));
    auto* dollar = form->findChild<QLineEdit*>("TextDollar1");
    EXPECT_EQ(dollar->text(), "200");
    dollar->setText("7");
    window->findChild<QPushButton*>("ComTeach")->click();
    EXPECT_NE(form->findChild<QMessageBox*>("ConfirmReload"), nullptr);
    EXPECT_EQ(dollar->text(), "7");
    EXPECT_EQ(form->windowTitle(), "Edit");
}

TEST_F(MainWindowTest, ClosingWithWorkNeitherSavedNorProgrammedAsksSaveDiscardCancel)
{
    window->startUp();
    window->show();
    window->findChild<QPushButton*>("ComTeach")->click();
    window->settingsForm()->findChild<QLineEdit*>("TextDollar1")->setText("7");
    const auto answer = [&](QMessageBox::StandardButton button) {
        auto* box = window->findChild<QMessageBox*>("ConfirmSaveChanges");
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().endsWith("Save them before closing?")) << box->text().toStdString();
        box->button(button)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    window->close();
    answer(QMessageBox::Cancel);
    EXPECT_TRUE(window->isVisible());
    // Edits taken back into the document are still work to lose; Save writes the recent file.
    QDir().mkpath(QFileInfo(QString::fromStdString(window->state().recentName1)).absolutePath());
    ASSERT_TRUE(window->settingsForm()->tranback());
    EXPECT_TRUE(session.document().isModified());
    window->findChild<QPushButton*>("ComExit")->click();
    answer(QMessageBox::Save);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(session.document().isModified());
    const session::CoinDataCheck saved =
        session::checkCoinDataFile(QString::fromStdString(window->state().recentName1), false);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved.file->image.text(6), session.document().image().text(6));
}

// Open & Program asks about an Edit form's edits before the file replaces the document:
// Cancel keeps them and programs nothing, Discard lets the form follow the file.
TEST_F(MainWindowTest, OpenAndProgramAsksBeforeAFormsEditsAreLost)
{
    window->startUp();
    window->findChild<QAction*>("mnuBackup")->setChecked(false);
    window->findChild<QPushButton*>("ComEdit")->click();
    ASSERT_TRUE(quarvel::testing::waitUntil(
        [&] { return window->settingsForm() != nullptr && !session.device().isBusy(); }, 30000));
    SettingsForm* form = window->settingsForm();
    auto* dollar = form->findChild<QLineEdit*>("TextDollar1");
    dollar->setText("9");
    chosen = writeFile(files.filePath("good.cdt"), coinData(256, 77));
    const int writesBefore = model.counts().writes;
    for (const auto answer : {QMessageBox::Cancel, QMessageBox::Discard}) {
        window->findChild<QAction*>("mnuOpen_Program")->trigger();
        window->findChild<QMessageBox*>("ConfirmOpenProgram")->buttons().constFirst()->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        auto* box = window->findChild<QMessageBox*>("ConfirmSaveChanges");
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().endsWith("Save them before the file's settings replace them?"));
        box->button(answer)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (answer == QMessageBox::Cancel) {
            EXPECT_EQ(dollar->text(), "9");
            EXPECT_EQ(model.counts().writes, writesBefore);
        }
    }
    EXPECT_FALSE(form->hasEdits());
    EXPECT_NE(dollar->text(), "9");
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return !session.device().isBusy(); }, 30000));
}

// A declined Open & Program, at either question, changes nothing: not the document, not the
// recent files, not the selector.
TEST_F(MainWindowTest, ADeclinedOpenAndProgramChangesNothing)
{
    struct Case
    {
        const char* file;
        std::string text;
        const char* question;
    };
    std::string notNumbers = coinData(256, 77);
    notNumbers.replace(notNumbers.find("\"28\""), 4, "\"2x\"");
    const Case cases[] = {{"cancel.cdt", coinData(256, 77), "ConfirmOpenProgram"},
                          {"cells.cdt", notNumbers, "ConfirmCells"}};
    window->startUp();
    window->findChild<QPushButton*>("ComEdit")->click();
    ASSERT_TRUE(quarvel::testing::waitUntil(
        [&] { return window->settingsForm() != nullptr && !session.device().isBusy(); }, 30000));
    const std::string recentBefore = window->state().recentName1;
    const ParameterImage before = session.document().image();
    const auto selector = model.memory();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        chosen = writeFile(files.filePath(c.file), c.text);
        window->findChild<QAction*>("mnuOpen_Program")->trigger();
        auto* box = window->findChild<QMessageBox*>(c.question);
        ASSERT_NE(box, nullptr);
        QAbstractButton* decline = box->button(QMessageBox::No);
        (decline != nullptr ? decline : box->buttons().constLast())->click();
        quarvel::testing::settle();
        EXPECT_FALSE(session.device().isBusy());
        EXPECT_EQ(model.memory(), selector);
        EXPECT_EQ(window->state().recentName1, recentBefore);
        EXPECT_EQ(session.document().image(), before);
    }
}

// After a restore the document is what the selector now holds, so that the next Program does
// not undo it; pending edits are replaced only if the user says so.
TEST_F(MainWindowTest, ARestoreBecomesTheDocumentUnlessEditsArePending)
{
    window->startUp();
    window->findChild<QAction*>("mnuBackup")->setChecked(false);
    QTemporaryDir backups;
    window->setBackupFolder(backups.path());
    window->findChild<QPushButton*>("ComEdit")->click();
    ASSERT_TRUE(quarvel::testing::waitUntil(
        [&] { return window->settingsForm() != nullptr && !session.device().isBusy(); }, 30000));
    ParameterImage backup = session.document().image();
    backup.setText(4, "55");
    ASSERT_TRUE(
        session::saveCoinData(
            session::BackupFolder(backups.path()).newFile(QDateTime::currentDateTime(), "x", 0), backup)
            .saved);
    const auto restore = [&] {
        window->findChild<QAction*>("mnuRestore")->trigger();
        window->findChild<QPushButton*>("ComRestore")->click();
        window->findChild<QMessageBox*>("ConfirmRestore")->findChild<QPushButton*>("yes")->click();
        EXPECT_TRUE(quarvel::testing::waitUntil([&] { return !session.device().isBusy(); }, 30000));
        EXPECT_EQ(model.cell(4), 55);
    };
    restore();
    EXPECT_EQ(session.document().image().text(4), "55");
    EXPECT_FALSE(session.document().isModified());

    session.document().edit(session::ChangeSource::Edit,
                            [&](ParameterImage& image) { image.setText(4, "66"); });
    restore();
    auto* ask = window->findChild<QMessageBox*>("ConfirmSaveChanges");
    ASSERT_NE(ask, nullptr);
    ask->button(QMessageBox::Cancel)->click();
    EXPECT_EQ(session.document().image().text(4), "66");
}

#ifdef QUARVELCTL_PATH
QString hexFrame(const link::Frame& frame)
{
    QStringList bytes;
    for (const std::uint8_t b : frame)
        bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(' ');
}

// One operation for every front end: Open & Program with its backup, and quarvelctl program
// with --backup, put the same frames on the line.
TEST_F(MainWindowTest, TheDesktopAndQuarvelctlSendTheSameFrames)
{
    window->startUp();
    QTemporaryDir backups;
    window->setBackupFolder(backups.path());
    QStringList desktop;
    QObject::connect(&driverOf(session.device()), &link::SerialLink::frameSent,
                     [&](const link::Frame& frame) { desktop << hexFrame(frame); });
    chosen = writeFile(files.filePath("same.cdt"), coinData(256, 77));
    window->findChild<QAction*>("mnuOpen_Program")->trigger();
    window->findChild<QMessageBox*>("ConfirmOpenProgram")->buttons().constFirst()->click();
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return window->samplingWindow() != nullptr; }, 30000))
        << status().toStdString();
    session.device().closePort();

    QProcess cli;
    cli.setProgram(QStringLiteral(QUARVELCTL_PATH));
    cli.setArguments(
        {"program", "--port", bridge.slavePath(), chosen, "--backup", backups.path() + "/", "--trace"});
    cli.start();
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return cli.state() == QProcess::NotRunning; },
                                            30000)); // the bridge needs this loop
    EXPECT_EQ(cli.exitCode(), 0);
    QStringList quarvelctl;
    static const QRegularExpression sent(QStringLiteral(" -> ((?:[0-9A-F]{2} ){4}[0-9A-F]{2})"));
    for (const QString& line : QString::fromUtf8(cli.readAllStandardError()).split('\n'))
        if (const auto match = sent.match(line); match.hasMatch()) quarvelctl << match.captured(1);
    EXPECT_EQ(desktop.size(), 2 + 189 + 184 + 3 + 189); // probe, backup, ranges, read-back
    EXPECT_EQ(quarvelctl, desktop);
}
#endif

TEST_F(MainWindowTest, EditReadsThenOpensTheForm)
{
    window->startUp();
    model.setCell(6, 200);
    window->findChild<QPushButton*>("ComEdit")->click();
    EXPECT_FALSE(window->findChild<QAction*>("mnuCom2")->isEnabled());
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return window->settingsForm() != nullptr; }, 30000));
    EXPECT_EQ(window->settingsForm()->windowTitle(), "Edit");
    EXPECT_EQ(window->settingsForm()->findChild<QLineEdit*>("TextDollar1")->text(), "200");
}

TEST_F(MainWindowTest, LoadDefaultValueReopensTheForm)
{
    window->startUp();
    window->findChild<QPushButton*>("ComTeach")->click();
    SettingsForm* teach = window->settingsForm();
    ASSERT_NE(teach, nullptr);
    teach->findChild<QPushButton*>("ComDefault")->click();
    SettingsForm* reopened = window->settingsForm();
    ASSERT_NE(reopened, nullptr);
    EXPECT_NE(reopened, teach);
    EXPECT_EQ(reopened->windowTitle(), "Setting");
    EXPECT_FALSE(reopened->findChild<QPushButton*>("ComDefault")->isVisible());
    EXPECT_TRUE(reopened->findChild<QPushButton*>("ComOK")->isVisible());
    EXPECT_EQ(reopened->findChild<QComboBox*>("ComboOutputMode")->currentText(),
              "2. Pulse output with INHIBIT");
    EXPECT_EQ(reopened->findChild<QComboBox*>("ComboToleranceA1")->currentText(), "0");
}

TEST(PortNames, FixedEntriesMapToPlatformNames)
{
    const struct
    {
        int port;
        const char* windows;
        const char* linux;
    } cases[] = {
        {1, "COM1", "/dev/ttyS0"}, {4, "COM4", "/dev/ttyS3"}, {9, "COM9", "/dev/ttyS8"}, {5, "", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(fixedPortName(c.port, Platform::Windows), c.windows);
        EXPECT_EQ(fixedPortName(c.port, Platform::Linux), c.linux);
    }
}

TEST(WindowGeometry, WindowOffEveryScreenComesBack)
{
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    EXPECT_EQ(keepOnScreen(QRect(2000, 100, 600, 400), screens), QRect(2000, 100, 600, 400));
    const QRect back = keepOnScreen(QRect(5000, -900, 600, 400), screens);
    EXPECT_TRUE(screens.first().contains(back));
    EXPECT_EQ(back.size(), QSize(600, 400));
    EXPECT_EQ(twipsToPixels(6500, 96), 433);
    EXPECT_EQ(pixelsToTwips(433, 96), 6495);
}

} // namespace
} // namespace quarvel
