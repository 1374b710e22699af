#include "resources/DigestingFileSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Korvane
{
namespace UpdateManager
{

DigestingFileSink::DigestingFileSink() = default;

DigestingFileSink::~DigestingFileSink()
{
    Close();
}

bool DigestingFileSink::Open(const boost::filesystem::path& file, bool truncate, bool digest)
{
    Close();
    mDigest.reset();
    mFailed = false;
    mWritten = 0;

    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND);
    mFd = ::open(file.c_str(), flags, 0666);
    if (mFd < 0)
        return false;
    struct stat status
    {
    };
    if (::fstat(mFd, &status) != 0)
    {
        ::close(mFd);
        mFd = -1;
        return false;
    }
    // Every write goes to the end (O_APPEND), so the position is the size at
    // opening plus what this sink wrote.
    mWritten = static_cast<int64_t>(status.st_size);

    if (digest)
    {
        mDigest.reset(new BackgroundMD5(file, mWritten));
        UseBlock(mDigest->AcquireBlock());
    }
    else
    {
        if (!mOwnBlock)
            mOwnBlock.reset(new char[BackgroundMD5::kBlockSize]);
        UseBlock(mOwnBlock.get());
    }
    return true;
}

bool DigestingFileSink::Close()
{
    if (mFd < 0)
        return !mFailed;
    WriteOut();
    if (mDigest)
    {
        // The block in hand goes back unhashed: nothing more will be written.
        mDigest->Submit(mBlock, 0);
    }
    UseBlock(nullptr);
    ::close(mFd);
    mFd = -1;
    return !mFailed;
}

BackgroundMD5::Result DigestingFileSink::FinishDigest()
{
    if (!mDigest || mFd >= 0)
        return {};
    BackgroundMD5::Result result = mDigest->Finish();
    mDigest.reset();
    if (mFailed || result.mBytes != mWritten)
        return {};
    return result;
}

void DigestingFileSink::UseBlock(char* block)
{
    mBlock = block;
    if (block == nullptr)
        setp(nullptr, nullptr);
    else
        setp(block, block + BackgroundMD5::kBlockSize);
}

bool DigestingFileSink::WriteAll(const char* data, std::size_t count)
{
    while (count > 0)
    {
        const ssize_t written = ::write(mFd, data, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

bool DigestingFileSink::WriteOut()
{
    const std::size_t count = static_cast<std::size_t>(pptr() - pbase());
    if (count == 0 || mBlock == nullptr)
        return !mFailed;
    if (mFailed || !WriteAll(mBlock, count))
    {
        if (!mFailed && mDigest)
            mDigest->Abandon();
        mFailed = true;
        UseBlock(mBlock); // drop the bytes that could not be written
        return false;
    }
    mWritten += static_cast<int64_t>(count);
    if (mDigest)
    {
        mDigest->Submit(mBlock, count);
        UseBlock(mDigest->AcquireBlock());
    }
    else
    {
        UseBlock(mBlock);
    }
    return true;
}

DigestingFileSink::int_type DigestingFileSink::overflow(int_type c)
{
    if (mFd < 0 || mFailed || !WriteOut())
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof()))
    {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

std::streamsize DigestingFileSink::xsputn(const char* data, std::streamsize count)
{
    if (mFd < 0 || mFailed)
        return 0;
    std::streamsize done = 0;
    while (done < count)
    {
        if (pptr() == epptr() && !WriteOut())
            break;
        const std::streamsize room = epptr() - pptr();
        const std::streamsize now = std::min(room, count - done);
        std::memcpy(pptr(), data + done, static_cast<std::size_t>(now));
        pbump(static_cast<int>(now));
        done += now;
    }
    return done;
}

int DigestingFileSink::sync()
{
    if (mFd < 0)
        return 0;
    return WriteOut() ? 0 : -1;
}

DigestingFileSink::pos_type DigestingFileSink::seekoff(off_type offset,
                                                       std::ios_base::seekdir direction,
                                                       std::ios_base::openmode which)
{
    // Only the position query (tellp) is answered; it needs no system call.
    if (mFd < 0 || mFailed || offset != 0 || direction != std::ios_base::cur ||
        !(which & std::ios_base::out))
        return pos_type(off_type(-1));
    return pos_type(off_type(mWritten + (pptr() - pbase())));
}

} // namespace UpdateManager
} // namespace Korvane
