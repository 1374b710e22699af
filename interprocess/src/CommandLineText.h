#pragma once

#include <string>
#include <vector>

namespace Korvane
{
namespace IPC
{

// The one quoting rule for command lines sent to the helper tool as text.
// Arguments are separated by spaces. An argument made only of letters,
// digits and "_@%+=:,./-" is written as it is; any other argument (the
// empty one included) is written in single quotes, with each "'" inside it
// written as '\'' (close the quotes, an escaped quote, reopen them).

// `argument` written by that rule.
std::string QuoteArgument(const std::string& argument);

// The arguments written by that rule, separated by single spaces.
std::string JoinArguments(const std::vector<std::string>& arguments);

// Splits a command line written by that rule back into its arguments.
// Outside quotes, runs of spaces and tabs separate arguments and a backslash
// takes the next character literally; inside single quotes every character is
// literal. False (and `arguments` empty) for an unterminated quote, a
// trailing backslash, a NUL byte, a newline outside quotes, or no argument.
bool SplitArguments(const std::string& commandLine, std::vector<std::string>& arguments);

} // namespace IPC
} // namespace Korvane
