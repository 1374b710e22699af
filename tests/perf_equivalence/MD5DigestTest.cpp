#include "resources/MD5Digest.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

using Korvane::UpdateManager::MD5Digest;

namespace
{
std::string Ours(const std::string& text)
{
    MD5Digest md5;
    md5.Update(text.data(), text.size());
    return md5.HexDigest();
}

std::string Poco(const std::string& text)
{
    Poco::MD5Engine md5;
    md5.update(text);
    return Poco::DigestEngine::digestToHex(md5.digest());
}

TEST(MD5DigestTest, KnownVectors)
{
    // RFC 1321, appendix A.5.
    const std::pair<std::string, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& vector : vectors)
        EXPECT_EQ(Ours(vector.first), vector.second) << vector.first.substr(0, 80);
}

TEST(MD5DigestTest, RandomDataOfEveryLengthAroundTheBlockMatchesPoco)
{
    std::mt19937 generator(42);
    for (size_t size = 0; size < 300; ++size)
    {
        std::string text(size, '\0');
        for (auto& c : text)
            c = static_cast<char>(generator() & 0xff);
        ASSERT_EQ(Ours(text), Poco(text)) << size;
    }
}

TEST(MD5DigestTest, PiecesOfAnySizeGiveTheDigestOfTheWhole)
{
    std::mt19937 generator(7);
    std::string text(1 << 20, '\0');
    for (auto& c : text)
        c = static_cast<char>(generator() & 0xff);
    const std::string expected = Poco(text);
    for (size_t piece : {1, 3, 63, 64, 65, 1000, 8192, 1 << 20})
    {
        MD5Digest md5;
        for (size_t at = 0; at < text.size(); at += piece)
            md5.Update(text.data() + at, std::min(piece, text.size() - at));
        EXPECT_EQ(md5.HexDigest(), expected) << piece;
    }
}
} // namespace
