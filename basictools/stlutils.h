#pragma once

#include <string>
#include <vector>

namespace Korvane
{
namespace stlutils
{

// Every occurrence of `from` replaced by `to`, left to right; inserted text is
// never searched again. An empty `from` returns the text unchanged.
std::string replace_all(const std::string& text, const std::string& from, const std::string& to);

// Appends to `tokens` the runs of `text` separated by any character of
// `delimiters`; never appends an empty token and never clears `tokens`.
void tokenize(const std::string& text, std::vector<std::string>& tokens,
              const std::string& delimiters);

} // namespace stlutils
} // namespace Korvane
