#pragma once

#include "resources/HttpClient.h"

#include <boost/property_tree/ptree.hpp>

#include <functional>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// Fetches a JSON answer of the resource server into a property tree.
class HttpResourceClient : public HttpClient
{
  public:
    // Answers are a few kilobytes; a larger one is refused rather than held
    // in memory (a broken or hostile server could send without end).
    static constexpr int64_t kMaxAnswerSize = 4 << 20;
    // Deeper JSON would exhaust the stack of the recursive reader.
    static constexpr size_t kMaxAnswerDepth = 256;

    // True only when the whole body arrived and parsed as JSON into `result`;
    // false for an answer larger than kMaxAnswerSize (logged on "web").
    // After false, GetResult() tells a connection failure (5) from the rest.
    // `progress` is accepted for the caller's convenience and never called.
    bool Get(const std::string& url, boost::property_tree::ptree& result,
             std::function<void(double)> progress);

    // Parses a received answer body as JSON into `result`; false (logged on
    // "web") when it is not JSON or nests deeper than kMaxAnswerDepth. Any
    // bytes; never throws.
    static bool ParseAnswer(const std::string& body, boost::property_tree::ptree& result);
};

} // namespace UpdateManager
} // namespace Korvane
