#include "resources/MD5Digest.h"

#include <algorithm>
#include <cstring>

namespace Korvane
{
namespace UpdateManager
{
namespace
{
inline uint32_t Load32(const unsigned char* bytes)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
#else
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
#endif
}

inline uint32_t Rotate(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

// The four round functions, in forms with short dependency chains.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z)
{
    return z ^ (x & (y ^ z));
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z)
{
    return y ^ (z & (x ^ y));
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z)
{
    return x ^ y ^ z;
}
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z)
{
    return y ^ (x | ~z);
}
} // namespace

#define MD5_STEP(f, a, b, c, d, x, t, s)                                                           \
    a += f(b, c, d) + (x) + (t);                                                                   \
    a = Rotate(a, s) + b

MD5Digest::MD5Digest() : mState{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u}, mBuffer{} {}

void MD5Digest::Update(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    mLength += size;
    if (mBuffered > 0)
    {
        const std::size_t take = std::min(size, sizeof mBuffer - mBuffered);
        std::memcpy(mBuffer + mBuffered, bytes, take);
        mBuffered += take;
        bytes += take;
        size -= take;
        if (mBuffered < sizeof mBuffer)
            return;
        Transform(mBuffer, 1);
        mBuffered = 0;
    }
    const std::size_t whole = size / 64;
    if (whole > 0)
        Transform(bytes, whole);
    bytes += whole * 64;
    size -= whole * 64;
    std::memcpy(mBuffer, bytes, size);
    mBuffered = size;
}

std::string MD5Digest::HexDigest()
{
    const uint64_t bits = mLength * 8;
    unsigned char padding[72] = {0x80};
    const std::size_t padLength = (mBuffered < 56 ? 56 : 120) - mBuffered;
    for (int i = 0; i < 8; ++i)
        padding[padLength + static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(bits >> (8 * i));
    Update(padding, padLength + 8);

    static const char kHex[] = "0123456789abcdef";
    std::string hex(32, '0');
    for (int word = 0; word < 4; ++word)
        for (int byte = 0; byte < 4; ++byte)
        {
            const auto value = static_cast<unsigned>((mState[word] >> (8 * byte)) & 0xff);
            hex[static_cast<std::size_t>(word * 8 + byte * 2)] = kHex[value >> 4];
            hex[static_cast<std::size_t>(word * 8 + byte * 2 + 1)] = kHex[value & 0xf];
        }
    return hex;
}

void MD5Digest::Transform(const unsigned char* blocks, std::size_t count)
{
    uint32_t a = mState[0], b = mState[1], c = mState[2], d = mState[3];
    for (; count > 0; --count, blocks += 64)
    {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = Load32(blocks + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(F, a, b, c, d, x[0], 0xd76aa478u, 7);
        MD5_STEP(F, d, a, b, c, x[1], 0xe8c7b756u, 12);
        MD5_STEP(F, c, d, a, b, x[2], 0x242070dbu, 17);
        MD5_STEP(F, b, c, d, a, x[3], 0xc1bdceeeu, 22);
        MD5_STEP(F, a, b, c, d, x[4], 0xf57c0fafu, 7);
        MD5_STEP(F, d, a, b, c, x[5], 0x4787c62au, 12);
        MD5_STEP(F, c, d, a, b, x[6], 0xa8304613u, 17);
        MD5_STEP(F, b, c, d, a, x[7], 0xfd469501u, 22);
        MD5_STEP(F, a, b, c, d, x[8], 0x698098d8u, 7);
        MD5_STEP(F, d, a, b, c, x[9], 0x8b44f7afu, 12);
        MD5_STEP(F, c, d, a, b, x[10], 0xffff5bb1u, 17);
        MD5_STEP(F, b, c, d, a, x[11], 0x895cd7beu, 22);
        MD5_STEP(F, a, b, c, d, x[12], 0x6b901122u, 7);
        MD5_STEP(F, d, a, b, c, x[13], 0xfd987193u, 12);
        MD5_STEP(F, c, d, a, b, x[14], 0xa679438eu, 17);
        MD5_STEP(F, b, c, d, a, x[15], 0x49b40821u, 22);

        MD5_STEP(G, a, b, c, d, x[1], 0xf61e2562u, 5);
        MD5_STEP(G, d, a, b, c, x[6], 0xc040b340u, 9);
        MD5_STEP(G, c, d, a, b, x[11], 0x265e5a51u, 14);
        MD5_STEP(G, b, c, d, a, x[0], 0xe9b6c7aau, 20);
        MD5_STEP(G, a, b, c, d, x[5], 0xd62f105du, 5);
        MD5_STEP(G, d, a, b, c, x[10], 0x02441453u, 9);
        MD5_STEP(G, c, d, a, b, x[15], 0xd8a1e681u, 14);
        MD5_STEP(G, b, c, d, a, x[4], 0xe7d3fbc8u, 20);
        MD5_STEP(G, a, b, c, d, x[9], 0x21e1cde6u, 5);
        MD5_STEP(G, d, a, b, c, x[14], 0xc33707d6u, 9);
        MD5_STEP(G, c, d, a, b, x[3], 0xf4d50d87u, 14);
        MD5_STEP(G, b, c, d, a, x[8], 0x455a14edu, 20);
        MD5_STEP(G, a, b, c, d, x[13], 0xa9e3e905u, 5);
        MD5_STEP(G, d, a, b, c, x[2], 0xfcefa3f8u, 9);
        MD5_STEP(G, c, d, a, b, x[7], 0x676f02d9u, 14);
        MD5_STEP(G, b, c, d, a, x[12], 0x8d2a4c8au, 20);

        MD5_STEP(H, a, b, c, d, x[5], 0xfffa3942u, 4);
        MD5_STEP(H, d, a, b, c, x[8], 0x8771f681u, 11);
        MD5_STEP(H, c, d, a, b, x[11], 0x6d9d6122u, 16);
        MD5_STEP(H, b, c, d, a, x[14], 0xfde5380cu, 23);
        MD5_STEP(H, a, b, c, d, x[1], 0xa4beea44u, 4);
        MD5_STEP(H, d, a, b, c, x[4], 0x4bdecfa9u, 11);
        MD5_STEP(H, c, d, a, b, x[7], 0xf6bb4b60u, 16);
        MD5_STEP(H, b, c, d, a, x[10], 0xbebfbc70u, 23);
        MD5_STEP(H, a, b, c, d, x[13], 0x289b7ec6u, 4);
        MD5_STEP(H, d, a, b, c, x[0], 0xeaa127fau, 11);
        MD5_STEP(H, c, d, a, b, x[3], 0xd4ef3085u, 16);
        MD5_STEP(H, b, c, d, a, x[6], 0x04881d05u, 23);
        MD5_STEP(H, a, b, c, d, x[9], 0xd9d4d039u, 4);
        MD5_STEP(H, d, a, b, c, x[12], 0xe6db99e5u, 11);
        MD5_STEP(H, c, d, a, b, x[15], 0x1fa27cf8u, 16);
        MD5_STEP(H, b, c, d, a, x[2], 0xc4ac5665u, 23);

        MD5_STEP(I, a, b, c, d, x[0], 0xf4292244u, 6);
        MD5_STEP(I, d, a, b, c, x[7], 0x432aff97u, 10);
        MD5_STEP(I, c, d, a, b, x[14], 0xab9423a7u, 15);
        MD5_STEP(I, b, c, d, a, x[5], 0xfc93a039u, 21);
        MD5_STEP(I, a, b, c, d, x[12], 0x655b59c3u, 6);
        MD5_STEP(I, d, a, b, c, x[3], 0x8f0ccc92u, 10);
        MD5_STEP(I, c, d, a, b, x[10], 0xffeff47du, 15);
        MD5_STEP(I, b, c, d, a, x[1], 0x85845dd1u, 21);
        MD5_STEP(I, a, b, c, d, x[8], 0x6fa87e4fu, 6);
        MD5_STEP(I, d, a, b, c, x[15], 0xfe2ce6e0u, 10);
        MD5_STEP(I, c, d, a, b, x[6], 0xa3014314u, 15);
        MD5_STEP(I, b, c, d, a, x[13], 0x4e0811a1u, 21);
        MD5_STEP(I, a, b, c, d, x[4], 0xf7537e82u, 6);
        MD5_STEP(I, d, a, b, c, x[11], 0xbd3af235u, 10);
        MD5_STEP(I, c, d, a, b, x[2], 0x2ad7d2bbu, 15);
        MD5_STEP(I, b, c, d, a, x[9], 0xeb86d391u, 21);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    mState[0] = a;
    mState[1] = b;
    mState[2] = c;
    mState[3] = d;
}

#undef MD5_STEP

} // namespace UpdateManager
} // namespace Korvane
