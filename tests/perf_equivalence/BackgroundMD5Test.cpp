#include "resources/BackgroundMD5.h"

#include "support/TempDirectory.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace Korvane::Testing;
using Korvane::UpdateManager::BackgroundMD5;

namespace
{
std::string Md5Of(const std::string& text)
{
    Poco::MD5Engine md5;
    md5.update(text);
    return Poco::DigestEngine::digestToHex(md5.digest());
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string text(size, '\0');
    for (auto& c : text)
        c = static_cast<char>(generator() & 0xff);
    return text;
}

// Feeds `text` in pieces of `piece` bytes, one block each.
void Feed(BackgroundMD5& digest, const std::string& text, size_t piece)
{
    for (size_t at = 0; at < text.size(); at += piece)
    {
        const size_t count = std::min(piece, text.size() - at);
        char* block = digest.AcquireBlock();
        std::memcpy(block, text.data() + at, count);
        digest.Submit(block, count);
    }
}
} // namespace

TEST(BackgroundMD5Test, KnownVectors)
{
    TempDirectory directory;
    const std::pair<const char*, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& vector : vectors)
    {
        BackgroundMD5 digest(directory / "unused", 0);
        Feed(digest, vector.first, 7);
        const auto result = digest.Finish();
        EXPECT_EQ(result.mHex, vector.second) << vector.first;
        EXPECT_EQ(result.mBytes, static_cast<int64_t>(std::strlen(vector.first)));
    }
}

TEST(BackgroundMD5Test, RandomDataInAnyPiecesMatchesPoco)
{
    TempDirectory directory;
    for (size_t size : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, BackgroundMD5::kBlockSize,
                        5 * BackgroundMD5::kBlockSize + 17})
        for (size_t piece : {size_t{1000}, BackgroundMD5::kBlockSize})
        {
            if (piece == 1000 && size > 100000)
                continue;
            const std::string text = RandomBytes(size, static_cast<unsigned>(size + piece));
            BackgroundMD5 digest(directory / "unused", 0);
            Feed(digest, text, piece);
            EXPECT_EQ(digest.Finish().mHex, Md5Of(text)) << size << " in " << piece;
        }
}

TEST(BackgroundMD5Test, PartOnDiskIsHashedFirst)
{
    TempDirectory directory;
    const std::string onDisk = RandomBytes(3 * BackgroundMD5::kBlockSize + 5, 1);
    const std::string rest = RandomBytes(BackgroundMD5::kBlockSize + 9, 2);
    // The file holds more than the prefix: only the prefix counts.
    WriteFile(directory / "Setup.dmg", onDisk + "trailing");
    BackgroundMD5 digest(directory / "Setup.dmg", static_cast<int64_t>(onDisk.size()));
    Feed(digest, rest, 4096);
    const auto result = digest.Finish();
    EXPECT_EQ(result.mHex, Md5Of(onDisk + rest));
    EXPECT_EQ(result.mBytes, static_cast<int64_t>(onDisk.size() + rest.size()));
}

TEST(BackgroundMD5Test, PartOnDiskThatCannotBeReadGivesNoDigest)
{
    TempDirectory directory;
    WriteFile(directory / "Short.dmg", "12345");
    for (const char* name : {"Short.dmg", "Missing.dmg"})
    {
        BackgroundMD5 digest(directory / name, 100);
        Feed(digest, RandomBytes(3 * BackgroundMD5::kBlockSize, 3), BackgroundMD5::kBlockSize);
        EXPECT_EQ(digest.Finish().mHex, "") << name;
    }
}

TEST(BackgroundMD5Test, AbandonedDigestNeverBlocksTheWriter)
{
    TempDirectory directory;
    BackgroundMD5 digest(directory / "unused", 0);
    Feed(digest, RandomBytes(2 * BackgroundMD5::kBlockSize, 4), BackgroundMD5::kBlockSize);
    digest.Abandon();
    // More blocks than the pool holds: each must come back.
    Feed(digest, RandomBytes(3 * BackgroundMD5::kBlockCount * BackgroundMD5::kBlockSize, 5),
         BackgroundMD5::kBlockSize);
    EXPECT_EQ(digest.Finish().mHex, "");
}

TEST(BackgroundMD5Test, DestroyedWhileHashingEndsCleanly)
{
    TempDirectory directory;
    WriteFile(directory / "Setup.dmg", RandomBytes(4 * BackgroundMD5::kBlockSize, 6));
    BackgroundMD5 digest(directory / "Setup.dmg", 4 * BackgroundMD5::kBlockSize);
    Feed(digest, RandomBytes(BackgroundMD5::kBlockCount * BackgroundMD5::kBlockSize, 7),
         BackgroundMD5::kBlockSize);
}
