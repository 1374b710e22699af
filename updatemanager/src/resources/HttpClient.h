#pragma once

#include <Poco/Net/HTTPClientSession.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// Result of the last transfer (GetResult). 2 is never produced.
enum HttpResult
{
    HttpResultNone = 0,            // set-up started, body still running, or an unhandled status
    HttpResultComplete = 1,        // the whole announced body has been read
    HttpResultFailed = 3,          // broken after the last byte, or a bad "Content-Range"
    HttpResultInterrupted = 4,     // broken before the last byte: resume from GetPosition()
    HttpResultConnectionError = 5, // no connection, no response, or no usable body
};

// One HTTP GET at a time over a kept-alive connection, optionally from a byte
// offset ("Range: bytes=N-"), with the body handed over in chunks of at most
// 8192 bytes through one fixed buffer. Log lines go to channel "web".
//
// Calling order for one transfer, all on the owning thread:
//   StartingAt (optional) -> Setup -> HasSetupSucceeded -> [RangeIgnored] ->
//   while (HasBytesToRead()) Read(sink) -> GetResult.
// GetProgress, GetTotalLenght, GetPosition and RangeIgnored may be called from
// any thread at any time.
//
// A server may answer a ranged request with 200 and the whole resource. The
// client then counts the transfer from byte 0 (total = announced length,
// position and progress start at 0) and RangeIgnored() is true. The caller
// must read RangeIgnored() after Setup and before its first Read, and when it
// is true empty its sink (e.g. reopen the file with std::ios::trunc) so that
// the body starts at offset 0; nothing has been written to the sink by then.
class HttpClient
{
  public:
    static constexpr size_t kChunkSize = 8192;

    HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Offset to ask for on every later Setup; 0 asks for the whole resource.
    HttpClient& StartingAt(int64_t offset);

    // Sends the GET for `url` ("http://" is put in front of anything that does
    // not start with it) and reads the response head. Connection failures end
    // as result 5; a URL that Poco::URI rejects throws its exception.
    HttpClient& Setup(const std::string& url);

    bool HasSetupSucceeded() const { return mSetupSucceeded; }

    // True when another Read will find body bytes. The first false after a
    // transfer settles the result.
    bool HasBytesToRead();

    // Reads one chunk into `sink`; returns the number of bytes read (0 when
    // none). Call only right after HasBytesToRead() returned true.
    int64_t Read(std::ostream& sink);

    double GetProgress() const { return mProgress.load(); }
    // Full size of the resource: the transfer's start plus the announced length.
    int64_t GetTotalLenght() const { return TransferStart() + mContentLength.load(); }
    // The sink's writing position after the last chunk; -1 when the sink failed.
    int64_t GetPosition() const { return mPosition.load(); }
    int GetResult() const { return mResult; }
    // Whether the last Setup asked for a range and got the whole resource (200).
    bool RangeIgnored() const { return mRangeIgnored.load(); }

  private:
    int64_t TransferStart() const { return mRangeIgnored.load() ? 0 : mStartingAt.load(); }
    void UseHostOf(const std::string& host, uint16_t port);
    void ReadResponseHead(const std::string& target, const std::string& userInfo);
    void HandleRangeNotSatisfiable(const std::string& contentRange);
    int64_t FillBuffer();
    void DropBody();
    void ResetConnection();
    void UpdateProgress();

    Poco::Net::HTTPClientSession mSession;
    std::istream* mResponseStream = nullptr;
    std::array<char, kChunkSize> mBuffer{};
    int64_t mBytesRead = 0;
    std::atomic<double> mProgress{0.0};
    std::atomic<int64_t> mPosition{0};
    int mResult = HttpResultNone;
    bool mSetupSucceeded = false;
    std::atomic<int64_t> mContentLength{0};
    std::atomic<int64_t> mStartingAt{0};
    std::atomic<bool> mRangeIgnored{false};
};

} // namespace UpdateManager
} // namespace Korvane
