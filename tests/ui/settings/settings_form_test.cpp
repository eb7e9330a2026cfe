// The settings form: loading the image into controls, tranback, its buttons and validation.
#include "image/default_image.h"
#include "image/parameter_image.h"
#include "ui/settings/settings_form.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace quarvel {
namespace {

template <typename T> T* control(QWidget& form, const char* name)
{
    T* found = form.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QString listText(QWidget& form, const char* name)
{
    return control<QComboBox>(form, name)->currentText();
}

ParameterImage mainDefault()
{
    ParameterImage image;
    loadMainDefault(image);
    return image;
}

TEST(SettingsFormLoad, TrickyCellsShowTheirDecodedValues)
{
    ParameterImage image = mainDefault();
    image.setText(84, "140"); // inhibit bit with mode 12, which has no entry
    image.setText(6, "12.6");
    image.setText(11, "255"); // CoinControl of coin 2
    session::Document held;
    held.replace(image, session::ChangeSource::File);
    SettingsForm form(held);

    EXPECT_EQ(listText(form, "Combooutenble"), "High Inhibit");
    EXPECT_EQ(listText(form, "ComboOutputMode"), "1. Pulse output");
    EXPECT_EQ(control<QLineEdit>(form, "TextDollar1")->text(), "13");
    EXPECT_EQ(control<QScrollBar>(form, "HScrollDollar1")->value(), 13);
    EXPECT_EQ(listText(form, "ComboToleranceA2"), "15");
    EXPECT_EQ(listText(form, "ComboHopper2"), "3");
    EXPECT_EQ(listText(form, "ComboInhibit2"), "Yes");
    // Untouched coins show the main default.
    EXPECT_EQ(listText(form, "ComboToleranceA12"), "10");
    EXPECT_EQ(listText(form, "ComboToleranceC12"), "5");
    EXPECT_EQ(control<QLineEdit>(form, "TextSignalTime")->text(), "50");
    EXPECT_EQ(control<QLineEdit>(form, "TextPriceB")->text(), "1");
    EXPECT_FALSE(control<QComboBox>(form, "ComboToleranceA1")->isEditable());
    EXPECT_FALSE(control<QLineEdit>(form, "TextHoldTime")->isVisibleTo(&form));
    EXPECT_EQ(control<QLineEdit>(form, "TextDollar3")->accessibleName(), "Coin 3 Value");
}

// A screen reader hears the form as a window and each list by its field, its entry as value.
TEST(SettingsFormLoad, TheFormIsAWindowAndListsAreNamedByTheirField)
{
    ParameterImage image = mainDefault();
    session::Document held;
    held.replace(image, session::ChangeSource::File);
    SettingsForm form(held);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&form)->role(), QAccessible::Window);
    QAccessibleInterface* list =
        QAccessible::queryAccessibleInterface(control<QComboBox>(form, "ComboToleranceA1"));
    EXPECT_EQ(list->role(), QAccessible::ComboBox);
    EXPECT_EQ(list->text(QAccessible::Name), "Coin 1 Tol-A");
    EXPECT_EQ(list->text(QAccessible::Value), listText(form, "ComboToleranceA1"));
    EXPECT_EQ(list->childCount(), 1); // the entries to choose from
}

struct TranbackCase
{
    const char* name;
    int cell;
    const char* before;
    std::vector<std::pair<const char*, int>> lists;
    const char* after;
};

class SettingsFormTranback : public ::testing::TestWithParam<TranbackCase>
{
};

TEST_P(SettingsFormTranback, ListsEncodeIntoTheirCell)
{
    const TranbackCase& c = GetParam();
    ParameterImage image = mainDefault();
    image.setText(c.cell, c.before);
    session::Document held;
    held.replace(image, session::ChangeSource::File);
    SettingsForm form(held);
    for (const auto& [name, index] : c.lists)
        control<QComboBox>(form, name)->setCurrentIndex(index);
    ASSERT_TRUE(form.tranback());
    EXPECT_EQ(held.image().text(c.cell), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SettingsFormTranback,
    ::testing::Values(
        TranbackCase{"KeepsBit6",
                     4,
                     "64",
                     {{"ComboInhibit1", 1}, {"ComboHopper1", 2}, {"ComboToleranceA1", 7}},
                     "231"},
        TranbackCase{
            "NoBit6", 4, "0", {{"ComboInhibit1", 1}, {"ComboHopper1", 2}, {"ComboToleranceA1", 7}}, "167"},
        TranbackCase{"ToleranceBC", 129, "85", {{"ComboToleranceB1", 3}, {"ComboToleranceC1", 12}}, "195"},
        TranbackCase{
            "TimerOutputHighInhibit", 84, "0", {{"Combooutenble", 1}, {"ComboOutputMode", 7}}, "135"},
        TranbackCase{"PulseHighInhibit", 84, "0", {{"Combooutenble", 1}, {"ComboOutputMode", 0}}, "128"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsFormTranback, ScrollWritesTextAndTypedTextWins)
{
    ParameterImage image = mainDefault();
    image.setText(94, "7");   // the hidden Timer Scale B row
    image.setText(89, "0.4"); // bank B's price, not visible either
    session::Document held;
    held.replace(image, session::ChangeSource::File);
    SettingsForm form(held);
    auto* dollar = control<QScrollBar>(form, "HScrollDollar1");
    dollar->setSliderDown(true); // a drag: the text follows while the thumb moves
    dollar->setSliderPosition(200);
    EXPECT_EQ(control<QLineEdit>(form, "TextDollar1")->text(), "200");
    dollar->setSliderDown(false);
    control<QScrollBar>(form, "HScrollPriceA")->setValue(40);
    auto* price = control<QLineEdit>(form, "TextPriceA");
    price->selectAll();
    QTest::keyClicks(price, "017");
    EXPECT_EQ(control<QScrollBar>(form, "HScrollPriceA")->value(), 17); // the bar follows
    EXPECT_EQ(price->text(), "017");                                    // and the text stays as typed
    QTest::keyClicks(price, "0");                                       // 0170
    QTest::keyClicks(price, "x"); // not a number: the bar stays where it was
    EXPECT_EQ(control<QScrollBar>(form, "HScrollPriceA")->value(), 170);
    price->selectAll();
    QTest::keyClicks(price, "17");

    QSignalSpy sampling(&form, &SettingsForm::samplingRequested);
    form.applyOpener(SettingsOpener::Teach);
    control<QPushButton>(form, "ComOK")->click();
    EXPECT_EQ(held.image().text(6), "200");
    EXPECT_EQ(held.image().text(86), "17");
    EXPECT_EQ(held.image().text(94), "7");
    EXPECT_EQ(held.image().text(89), "0"); // what loading showed, written back
    EXPECT_EQ(sampling.count(), 1);
}

TEST(SettingsFormButtons, ExitLeavesTheImageAsItWas)
{
    ParameterImage image = mainDefault();
    const ParameterImage before = image;
    session::Document held;
    held.replace(image, session::ChangeSource::File);
    auto* form = new SettingsForm(held);
    form->applyOpener(SettingsOpener::Edit);
    form->show();
    control<QComboBox>(*form, "ComboToleranceA5")->setCurrentIndex(2);
    control<QScrollBar>(*form, "HScrollDollar5")->setValue(99);
    EXPECT_FALSE(control<QPushButton>(*form, "ComOK")->isVisible());
    control<QPushButton>(*form, "ComExit")->click();
    // Edits not taken back are dropped only when the user says so.
    auto* ask = form->findChild<QMessageBox*>("ConfirmDiscard");
    ASSERT_NE(ask, nullptr);
    EXPECT_TRUE(form->isVisible());
    ask->buttons().at(0)->click(); // Discard
    EXPECT_EQ(held.image(), before);
    EXPECT_FALSE(form->isVisible());
}

// Calibration shows only OK: Escape is its way back, asking first when edits are pending.
TEST(SettingsFormButtons, EscapeLeavesTheCalibrationSettings)
{
    for (const bool edited : {false, true}) {
        SCOPED_TRACE(edited);
        ParameterImage image = mainDefault();
        session::Document held;
        held.replace(image, session::ChangeSource::File);
        auto form = std::make_unique<SettingsForm>(held);
        form->applyOpener(SettingsOpener::Calibration);
        form->show();
        if (edited) control<QScrollBar>(*form, "HScrollDollar5")->setValue(99);
        QTest::keyClick(form.get(), Qt::Key_Escape);
        auto* ask = form->findChild<QMessageBox*>("ConfirmDiscard");
        EXPECT_EQ(ask != nullptr, edited);
        if (ask) ask->buttons().at(0)->click(); // Discard
        EXPECT_FALSE(form->isVisible());
    }
}

class SettingsFormValidation : public ::testing::TestWithParam<const char*>
{
};

TEST_P(SettingsFormValidation, RefusesAndWritesNothing)
{
    ParameterImage image = mainDefault();
    session::Document held;
    held.replace(image, session::ChangeSource::File);
    SettingsForm form(held);
    form.applyOpener(SettingsOpener::Edit);
    control<QComboBox>(form, "ComboToleranceA1")->setCurrentIndex(3);
    control<QLineEdit>(form, "TextDollar3")->setText(QString::fromLatin1(GetParam()));
    const ParameterImage before = held.image();
    QSignalSpy program(&form, &SettingsForm::programRequested);

    control<QPushButton>(form, "Command2")->click();
    EXPECT_EQ(held.image(), before);
    EXPECT_EQ(program.count(), 0);
    EXPECT_TRUE(form.message().contains("Coin 3 Value")) << form.message().toStdString();
    EXPECT_TRUE(form.message().contains("0 to 255"));
    EXPECT_NE(control<QLineEdit>(form, "TextDollar3")->palette().color(QPalette::Base),
              control<QLineEdit>(form, "TextDollar4")->palette().color(QPalette::Base));
}

INSTANTIATE_TEST_SUITE_P(NotAByte, SettingsFormValidation, ::testing::Values("300", "-5", "abc", "", "12.5"));

TEST(SettingsFormValidation, AcceptedValueIsProgrammed)
{
    ParameterImage image = mainDefault();
    session::Document held;
    held.replace(image, session::ChangeSource::File);
    SettingsForm form(held);
    form.applyOpener(SettingsOpener::Edit);
    control<QLineEdit>(form, "TextDollar3")->setText(" 255");
    QSignalSpy program(&form, &SettingsForm::programRequested);
    control<QPushButton>(form, "Command2")->click();
    EXPECT_EQ(program.count(), 1);
    EXPECT_EQ(held.image().text(20), " 255"); // copied as typed
    EXPECT_TRUE(form.message().isEmpty());
}

} // namespace
} // namespace quarvel
