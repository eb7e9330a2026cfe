#pragma once

#include <string>

// The status texts of the transfers, exactly as the user sees them.
namespace quarvel::link::texts {

inline constexpr char kTryToCommunicate[] = "Try to communicate";
inline constexpr char kCommunication[] = "Communication";
inline constexpr char kTimeOut[] = "Communication time out !";
inline constexpr char kReadError[] = "Read selector error";
inline constexpr char kProgramError[] = "Program to selector error";
// A read whose every answer was its own request coming back.
inline constexpr char kEchoingLine[] = "The port echoes what is sent: this is not a coin selector";

// Sampling run. Its time-out text is not the read/program one: lower-case c.
inline constexpr char kInsertCoins[] = "Insert 12 Coins !!";
inline constexpr char kSamplingTimeOut[] = "communication time out !";
inline constexpr char kCoinSelectorError[] = "Coin Selector error";
inline constexpr char kUserTerminate[] = "User terminate Insert !";
// Records the line spoiled so that no one can tell where they begin: the user inserts them again.
inline std::string coinsNotCounted(int coins)
{
    return coins == 1 ? "1 coin not counted: line noise; insert it again"
                      : std::to_string(coins) + " coins not counted: line noise; insert them again";
}

} // namespace quarvel::link::texts
