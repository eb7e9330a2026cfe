#pragma once

#include <QString>

// What the main window says, exactly as the user sees it.
namespace quarvel::main_texts {

inline constexpr char kCaption[] = "QUARVEL   Coin Selector programmer (Quarvel to Tesmor)";

inline constexpr char kTeach[] = "Teach Coin Selector";
inline constexpr char kTeachTip[] = "Insert coins to teach this on_line Coin Selector";
inline constexpr char kEdit[] = "Edit Coin Selector";
inline constexpr char kEditTip[] = "Edit this on_line Coin Selector";
inline constexpr char kCal[] = "Channel Calibration";
inline constexpr char kCalTip[] = "To calibrate channels for this on_line Coin Selector";
inline constexpr char kExit[] = "Exit";
inline constexpr char kExitTip[] = "exit";
inline constexpr char kStatus[] = "Status:";

inline constexpr char kFileMenu[] = "File(&F)";
inline constexpr char kOpenProgram[] = "Open & Program";
inline constexpr char kSystemMenu[] = "System(&s)";
// Entries of our own carry an Alt letter; the given ones keep their captions.
inline constexpr char kOtherPort[] = "&Other port\u2026";
inline constexpr char kVirtualSelector[] = "&Virtual selector";
inline constexpr char kVirtualSelectorWindow[] = "Virtual selector &window\u2026";
inline constexpr char kTrafficLog[] = "&Traffic log";

// Port texts take the port: "com2", or for the ninth "COM9" in the warning.
inline constexpr char kPortInUse[] = "commucation port use %1:";
inline constexpr char kPortFailed[] = "warning:something wrong to open %1";

inline constexpr char kOpenTitle[] = "open";
inline constexpr char kSaveTitle[] = "save file";
inline constexpr char kCdtFilter[] = " (*.cdt)";

inline constexpr char kVirtualPortName[] = "virtual selector";

// The texts above as QString.
inline QString q(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace quarvel::main_texts
