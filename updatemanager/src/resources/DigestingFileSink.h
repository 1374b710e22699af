#pragma once

#include "resources/BackgroundMD5.h"

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <memory>
#include <streambuf>

namespace Korvane
{
namespace UpdateManager
{

// Output stream buffer over a file, for the download worker: collects the
// small chunks of a transfer into large writes and, when asked to, computes
// the MD5 of the whole file on a second thread from the very blocks that are
// written (the part already on disk is hashed first).
//
// The writing position (tellp of a std::ostream over it) is exact at any time:
// the file size at opening plus every byte accepted since, whether it has
// reached the disk yet or not. A write error puts the stream in a bad state,
// as std::ofstream would. Seeking is not supported. One thread uses a sink.
class DigestingFileSink : public std::streambuf
{
  public:
    DigestingFileSink();
    ~DigestingFileSink() override;

    DigestingFileSink(const DigestingFileSink&) = delete;
    DigestingFileSink& operator=(const DigestingFileSink&) = delete;

    // Opens `file` for writing at its end, created when missing, or emptied
    // with `truncate`. With `digest`, the MD5 of the file's whole content is
    // computed while it is written. False when the file cannot be opened.
    // Closes first whatever was open.
    bool Open(const boost::filesystem::path& file, bool truncate, bool digest);
    bool IsOpen() const { return mFd >= 0; }

    // Writes out what is buffered and closes the file (any digest goes on).
    // False when a write failed since opening.
    bool Close();

    // After Close: waits for the digest and returns it, with the number of
    // bytes it covers. Empty when no digest was asked for or it cannot be
    // trusted to match the file (a failed write, an unreadable earlier part).
    BackgroundMD5::Result FinishDigest();

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;

  private:
    bool WriteOut();
    bool WriteAll(const char* data, std::size_t count);
    void UseBlock(char* block);

    int mFd = -1;
    int64_t mWritten = 0; // bytes in the file: its size at opening plus what was written since
    bool mFailed = false;
    std::unique_ptr<BackgroundMD5> mDigest;
    std::unique_ptr<char[]> mOwnBlock; // the buffer when no digest runs
    char* mBlock = nullptr;
};

} // namespace UpdateManager
} // namespace Korvane
