#include "resources/Check.h"

#include "support/TempDirectory.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

namespace fs = boost::filesystem;
using Korvane::Testing::TempDirectory;
using Korvane::Testing::WriteFile;
using Korvane::UpdateManager::Check;

namespace
{
std::string Md5OfText(const std::string& text)
{
    Poco::MD5Engine md5;
    md5.update(text);
    return Poco::DigestEngine::digestToHex(md5.digest());
}

// Content that differs at every position, so a block read twice or skipped
// changes the digest.
std::string Pattern(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    return text;
}
} // namespace

TEST(CheckTest, MissingFile)
{
    TempDirectory directory;
    EXPECT_EQ(Check::ComputeSize(directory / "missing"), 0);
    EXPECT_EQ(Check::ComputeChecksum(directory / "missing"), "");
}

TEST(CheckTest, KnownDigests)
{
    TempDirectory directory;
    WriteFile(directory / "empty", "");
    WriteFile(directory / "abc", "abc");
    EXPECT_EQ(Check::ComputeChecksum(directory / "empty"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Check::ComputeChecksum(directory / "abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Check::ComputeSize(directory / "abc"), 3);
}

TEST(CheckTest, DigestIsLowerCaseHex)
{
    TempDirectory directory;
    WriteFile(directory / "f", "hello world");
    const std::string digest = Check::ComputeChecksum(directory / "f");
    ASSERT_EQ(digest.size(), 32u);
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(CheckTest, SizesAroundTheBlockSize)
{
    TempDirectory directory;
    const size_t block = Check::kMD5BufferSize;
    for (size_t size : {block - 1, block, block + 1, 3 * block + 17})
    {
        const std::string text = Pattern(size);
        WriteFile(directory / "f", text);
        EXPECT_EQ(Check::ComputeSize(directory / "f"), static_cast<int64_t>(size));
        EXPECT_EQ(Check::ComputeChecksum(directory / "f"), Md5OfText(text)) << size;
    }
}

TEST(CheckTest, SizeBeyondThirtyTwoBits)
{
    TempDirectory directory;
    WriteFile(directory / "big", "");
    fs::resize_file(directory / "big", 5ULL << 30);
    EXPECT_EQ(Check::ComputeSize(directory / "big"), 5LL << 30);
}

TEST(CheckTest, DirectoryHasNoSizeAndTheEmptyDigest)
{
    TempDirectory directory;
    EXPECT_EQ(Check::ComputeSize(directory.Path()), 0);
    EXPECT_EQ(Check::ComputeChecksum(directory.Path()), "d41d8cd98f00b204e9800998ecf8427e");
}
