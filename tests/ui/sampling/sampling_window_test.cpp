// The sampling window driven like a user, against the in-process virtual selector.
#include "event_wait.h"
#include "image/address_map.h"
#include "link/qt/serial_link.h"
#include "session/selector_session.h"
#include "sim/qt/virtual_port.h"
#include "sim/virtual_selector.h"
#include "ui/sampling/sampling_window.h"
#include "ui/sampling/teach_quality_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quarvel {
namespace {

const QColor kRed(0xFF, 0x00, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kGreen(0x00, 0x64, 0x00);

struct Bench
{
    session::SelectorSession session;
    SamplingState state;
    QPointer<SamplingWindow> window;

    explicit Bench(bool calibration = false)
    {
        EXPECT_TRUE(session.bench().open());
        session.document().edit(session::ChangeSource::Edit, [&](ParameterImage& image) {
            image.setNumber(address::kMultiplyFactorA, 2);
            image.setNumber(address::kDivideFactorA, 4);
            image.setNumber(address::kMultiplyFactorB, 1);
            image.setNumber(address::kDivideFactorB, 1);
            image.setNumber(address::coinValue(1), 20);
        });
        open(calibration);
    }
    // A window closed but not yet deleted must not outlive the session it was given.
    ~Bench() { delete window.data(); }
    void open(bool calibration) { SamplingWindow::present(window, session, state, {}, calibration); }

    template <typename W = QWidget> W* find(const QString& name) { return window->findChild<W*>(name); }
    QString status() { return find<QLabel>("labelStats")->text(); }
    QColor statusColour() { return find<QLabel>("labelStats")->palette().color(QPalette::WindowText); }
    void click(const QString& name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    bool sampling()
    {
        return quarvel::testing::waitUntil([&] { return session.bench().model()->isSampling(); }, 5000);
    }
};

TEST(SamplingWindow, LoadTextsInBothModes)
{
    Bench teach;
    EXPECT_EQ(teach.window->windowTitle(), "Sampling");
    EXPECT_EQ(teach.status(), "press  \"Insert\"  !!");
    for (const char* hidden : {"Label13", "Text1", "Text2", "interrept", "STRCH2"})
        EXPECT_FALSE(teach.find(hidden)->isVisible()) << hidden;
    EXPECT_EQ(teach.find<QLabel>("Label12")->text(), "Coin 7: $ ");
    EXPECT_EQ(teach.find<QPushButton>("insert_11")->text(), "Insert");

    Bench cal(true);
    EXPECT_EQ(cal.window->windowTitle(), "Calibration");
    EXPECT_EQ(cal.status(), "Press \"Insert\" for channels:");
    EXPECT_EQ(cal.statusColour(), kRed);
    auto* strch2 = cal.find<QLineEdit>("STRCH2");
    EXPECT_TRUE(strch2->isVisible());
    EXPECT_TRUE(strch2->text().isEmpty());
    EXPECT_EQ(strch2->palette().color(QPalette::Text), kBlue);

    // The public values outlive the window, and storing them alone creates nothing.
    cal.window->close();
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return cal.window.isNull(); }));
    EXPECT_EQ(cal.state.operation, SamplingState::Mode::Calibration);
}

TEST(SamplingWindow, CoinValuesBothWaysAndRefusal)
{
    {
        Bench b;
        EXPECT_EQ(b.find<QLineEdit>("money_0")->text(), "10"); // 20 x 2 / 4
        b.find<QLineEdit>("money_0")->setText("12.5");
        b.click("Command3");
        EXPECT_EQ(b.session.document().image().text(address::coinValue(1)), "25");
        EXPECT_TRUE(quarvel::testing::waitUntil([&] { return b.window.isNull(); }));
    }
    {
        Bench b; // a box left as loaded is not written back, whatever its cell's text
        b.session.document().edit(session::ChangeSource::Edit, [&](ParameterImage& image) {
            image.setText(address::coinValue(2), "20.0");
        });
        b.window->close();
        ASSERT_TRUE(quarvel::testing::waitUntil([&] { return b.window.isNull(); }));
        b.open(false);
        b.find<QLineEdit>("money_0")->setText("12.5");
        b.click("Command3");
        EXPECT_EQ(b.session.document().image().text(address::coinValue(2)), "20.0");
    }
    {
        Bench b; // bank B divide factor 0: nothing is scaled at load, even for bank A
        b.session.document().edit(session::ChangeSource::Edit, [&](ParameterImage& image) {
            image.setNumber(address::kDivideFactorB, 0);
        });
        b.window->close();
        ASSERT_TRUE(quarvel::testing::waitUntil([&] { return b.window.isNull(); }));
        b.open(false);
        EXPECT_EQ(b.find<QLineEdit>("money_0")->text(), "255");
    }
    {
        Bench b; // bank B multiply factor 0: exit writes no coin value at all
        b.session.document().edit(session::ChangeSource::Edit, [&](ParameterImage& image) {
            image.setNumber(address::kMultiplyFactorB, 0);
        });
        b.find<QLineEdit>("money_0")->setText("40");
        b.click("Command3");
        EXPECT_EQ(b.session.document().image().text(address::coinValue(1)), "20");
    }
    {
        Bench b; // a bad text on channel 8 keeps the window open and writes nothing anywhere
        const ParameterImage before = b.session.document().image();
        b.find<QLineEdit>("money_0")->setText("30");
        b.find<QLineEdit>("money_7")->setText("12ab");
        b.click("Command3");
        ASSERT_FALSE(b.window.isNull());
        EXPECT_TRUE(b.window->isVisible());
        EXPECT_EQ(b.statusColour(), kRed);
        EXPECT_TRUE(b.status().contains("8")) << b.status().toStdString();
        EXPECT_EQ(b.session.document().image(), before);
    }
}

// Only the run this window started moves its rows: a read's progress (cells, not coins, and no
// channel) would index a row that does not exist.
TEST(SamplingWindow, ProgressOfAReadMovesNothing)
{
    Bench b;
    const QString counter = b.find<QLineEdit>("Text1")->text();
    const auto read = b.session.readSelector();
    ASSERT_TRUE(read);
    QSignalSpy done(read.operation, &session::ReadOperation::finished);
    ASSERT_TRUE(done.wait(20000));
    EXPECT_EQ(b.find<QLineEdit>("Text1")->text(), counter);
}

TEST(SamplingWindow, AnOpenerReloadsAnOpenWindowInItsNewMode)
{
    Bench b;
    b.session.document().edit(session::ChangeSource::Edit,
                              [&](ParameterImage& image) { image.setNumber(address::coinValue(1), 40); });
    b.open(true);
    EXPECT_EQ(b.find<QLineEdit>("money_0")->text(), "20"); // not the stale 10
    EXPECT_EQ(b.window->windowTitle(), "Calibration");
    EXPECT_EQ(b.status(), "Press \"Insert\" for channels:");
}

// A coin value typed but not yet taken back is not lost to an opener without asking.
TEST(SamplingWindow, AnOpenerAsksBeforeDroppingTypedCoinValues)
{
    Bench b;
    b.find<QLineEdit>("money_0")->setText("33");
    b.open(false);
    EXPECT_EQ(b.find<QLineEdit>("money_0")->text(), "33");
    auto* question = b.window->findChild<QMessageBox*>("ConfirmReload");
    ASSERT_NE(question, nullptr);
    for (QAbstractButton* button : question->buttons())
        if (button->text() == "&Discard") button->click();
    EXPECT_EQ(b.find<QLineEdit>("money_0")->text(), "10");
}

TEST(SamplingWindow, CancelBeforeAnyCoinAndSecondInsertRefused)
{
    Bench b;
    b.window->show();
    const ParameterImage before = b.session.document().image();
    b.click("insert_2");
    ASSERT_TRUE(b.sampling());
    EXPECT_TRUE(b.find("interrept")->isVisible());
    EXPECT_EQ(b.find<QLineEdit>("Text2")->text(), "12");
    EXPECT_TRUE(quarvel::testing::waitUntil([&] { return b.status() == "Insert 12 Coins !!"; }));

    // A second run, or programming, cannot start while this one goes.
    for (const char* other : {"insert_4", "Command2", "Command4"})
        EXPECT_FALSE(b.find(other)->isEnabled()) << other;
    EXPECT_TRUE(b.window->isSampling());

    b.click("interrept");
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return !b.window->isSampling(); }, 5000));
    EXPECT_EQ(b.status(), "User terminate Insert !");
    EXPECT_EQ(b.statusColour(), kRed);
    EXPECT_TRUE(
        quarvel::testing::waitUntil([&] { return b.session.bench().model()->counts().samplingEnds == 1; }));
    EXPECT_FALSE(b.find("Label13")->isVisible());
    EXPECT_EQ(b.session.document().image(), before);
}

TEST(SamplingWindow, ClosedDuringARunEndsIt)
{
    Bench b;
    b.window->show();
    b.click("insert_0");
    ASSERT_TRUE(b.sampling());
    b.window->close();
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return b.window.isNull(); }));
    EXPECT_TRUE(
        quarvel::testing::waitUntil([&] { return b.session.bench().model()->counts().samplingEnds == 1; }));
    EXPECT_TRUE(quarvel::testing::waitUntil([&] { return !b.session.device().isBusy(); }));
}

TEST(SamplingWindow, ALostPortIsShownWhereTheRunWas)
{
    Bench b;
    b.window->show();
    b.session.bench().model()->setFaultPlan(*sim::FaultPlan::parse("gone:1").plan);
    QSignalSpy lost(&b.session.device(), &session::Device::portLost);
    b.click("insert_0");
    ASSERT_TRUE(quarvel::testing::waitUntil([&] { return !b.window->isSampling(); }, 5000));
    ASSERT_EQ(lost.count(), 1);
    EXPECT_EQ(b.status(), lost.at(0).at(0).toString());
    EXPECT_EQ(b.statusColour(), kRed);
    EXPECT_FALSE(b.find("interrept")->isVisible());
}

TEST(SamplingWindow, TwelveCoinsStoreReferencesAndShowTheirQuality)
{
    // The type byte of a regular coin's record is the selector's own choice (one like the
    // start answer's counts once the answer's time is past: the framer's tests show it).
    for (const std::uint8_t type : {0x10, 0xFF}) {
        SCOPED_TRACE(type);
        Bench b;
        b.session.bench().model()->setRecordType(type);
        b.window->show();
        b.click("insert_0");
        ASSERT_TRUE(b.sampling());
        for (int coin = 0; coin < 12; ++coin)
            b.session.bench().port()->insertCoin(0, coin == 5);
        ASSERT_TRUE(quarvel::testing::waitUntil([&] { return !b.window->isSampling(); }, 5000));
        EXPECT_TRUE(b.status().startsWith("Sampling ok :")) << b.status().toStdString();
        EXPECT_EQ(b.statusColour(), kGreen);
        EXPECT_EQ(b.find<QProgressBar>("bar_0")->value(), 12);
        EXPECT_FALSE(b.find("interrept")->isVisible());

        const auto& quality = b.find<TeachQualityView>("quality_0")->quality();
        ASSERT_TRUE(quality.has_value());
        EXPECT_EQ(quality->series[0].reference,
                  b.session.document().image().integer(address::refAHigh(1)) * 256 +
                      b.session.document().image().integer(address::refALow(1)));
        EXPECT_TRUE(b.find<QLabel>("warnings_0")->text().contains("irregular coin counted (1)"));
    }
}

} // namespace
} // namespace quarvel
