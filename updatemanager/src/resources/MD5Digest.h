#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// MD5 (RFC 1321) for the installer checks. Poco::MD5Engine spends about a
// third of its instructions assembling each block's words byte by byte; this
// one loads them directly, which brings a pass over a file to the speed of
// the system's md5sum. Gives the same digests as Poco::MD5Engine.
// Not thread-safe; one object per digest.
class MD5Digest
{
  public:
    MD5Digest();

    void Update(const void* data, std::size_t size);
    // The digest of everything given so far as 32 lower-case hexadecimal
    // characters. Ends the digest: call once.
    std::string HexDigest();

  private:
    void Transform(const unsigned char* blocks, std::size_t count);

    uint32_t mState[4];
    uint64_t mLength = 0; // bytes given so far
    unsigned char mBuffer[64];
    std::size_t mBuffered = 0;
};

} // namespace UpdateManager
} // namespace Korvane
