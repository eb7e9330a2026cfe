#pragma once

#include "session/reports.h"
#include "ui/sampling/sampling_window.h"
#include "ui/status_colour.h"

#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <array>

// What the sampling window's two files share: its texts, the rows' given names, its colours.
namespace quarvel::sampling_window {

// The window's own texts.
inline constexpr char kTeachCaption[] = "Sampling";
inline constexpr char kCalibrationCaption[] = "Calibration";
inline constexpr char kInsert[] = "Insert";
inline constexpr char kMoneyDesign[] = "255";
inline constexpr char kFrameCaption[] = "COIN";
inline constexpr char kStandby[] = "standby";
inline constexpr char kCounterFrame[] = "Insert:      xx    of       80";
inline constexpr char kCounterBeforeFirst[] = "Insert:      ";
inline constexpr char kCounterBeforeSecond[] = "Insert:      xx    of       ";
inline constexpr char kCancel[] = "Cancel";
inline constexpr char kSaveCdt[] = "Save as a CDT file";
inline constexpr char kProgram[] = "Program to Coin Selector";
inline constexpr char kExit[] = "exit";
inline constexpr char kTsmr[] = "TSMR";
inline constexpr char kTeachPrompt[] = "press  \"Insert\"  !!";
inline constexpr char kCalibrationPrompt[] = "Press \"Insert\" for channels:";

// One row per channel, index = channel - 1. The labels of bank B run backwards.
struct RowSpec
{
    const char* labelName;
    const char* caption;
};
inline constexpr std::array<RowSpec, SamplingWindow::kChannels> kRowSpecs{{
    {"Label1", "Coin 1: $ "},
    {"Label2", "Coin 2: $ "},
    {"Label3", "Coin 3: $ "},
    {"Label4", "Coin 4: $ "},
    {"Label5", "Coin 5: $ "},
    {"Label6", "Coin 6: $ "},
    {"Label12", "Coin 7: $ "},
    {"Label11", "Coin 8: $ "},
    {"Label10", "Coin 9: $ "},
    {"Label9", "Coin10: $ "},
    {"Label8", "Coin11: $ "},
    {"Label7", "Coin12: $ "},
}};

inline constexpr int kServiceButtonGap = 24;
inline const QColor kAmber(0xB0, 0x60, 0x00);

inline void setTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    w->setPalette(p);
}

template <typename W> W* arrayMember(QWidget* parent, const char* name, int index)
{
    auto* w = new W(parent);
    w->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index));
    w->setProperty("index", index);
    return w;
}

} // namespace quarvel::sampling_window
