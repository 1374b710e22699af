#pragma once

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// `text` with its "//" and "/* */" comments outside string literals turned
// into spaces, newlines kept, so the JSON reader sees the same line numbers.
// Strings (with their escaped quotes) are left alone, and so is an
// unterminated "/*" comment, which the reader then rejects. Pure; any input.
std::string StripJsonComments(const std::string& text);

// The 1-based line of the first '[' or '{' (outside strings) that opens a
// level deeper than `maxDepth`, or 0 when the text stays within it. Lets the
// caller refuse documents that would exhaust the stack of a recursive reader.
size_t FindExcessiveNesting(const std::string& text, size_t maxDepth);

} // namespace UpdateManager
} // namespace Korvane
