#pragma once

// The status texts of the read and programming transfers, exactly as the user sees them.
namespace quarvel::link::texts {

inline constexpr char kTryToCommunicate[] = "Try to communicate";
inline constexpr char kCommunication[] = "Communication";
inline constexpr char kTimeOut[] = "Communication time out !";
inline constexpr char kReadError[] = "Read selector error";
inline constexpr char kProgramError[] = "Program to selector error";

} // namespace quarvel::link::texts
