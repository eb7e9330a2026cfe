#pragma once

#include "link/record_framer.h"

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
// Coins the selector measured that the run could not count: the user inserts them again.
inline std::string coinsNotCounted(int coins, NotCountedWhy why)
{
    struct Words
    {
        const char* one;
        const char* many; // "%1" the number
    };
    // In the order of NotCountedWhy.
    static constexpr Words kWords[] = {
        {"1 coin not counted: line noise; insert it again",
         "%1 coins not counted: line noise; insert them again"},
        {"1 coin not counted: half a record missing; insert it again",
         "%1 coins not counted: half a record missing; insert them again"},
        {"1 coin not counted: a record half missing, its place unknown; insert it again",
         "%1 coins not counted: a record half missing, its place unknown; insert them again"},
        {"1 coin not counted: a record like the start answer; insert it again",
         "%1 coins not counted: a record like the start answer; insert them again"},
        {"1 coin not counted: A out of range; insert it again",
         "%1 coins not counted: A out of range; insert them again"},
    };
    const Words& words = kWords[static_cast<int>(why)];
    if (coins == 1) return words.one;
    std::string text = words.many;
    text.replace(0, 2, std::to_string(coins));
    return text;
}

} // namespace quarvel::link::texts
