// The download sink must leave exactly the file, positions and digest that an
// std::ofstream in append mode followed by Check::ComputeChecksum would.
#include "resources/DigestingFileSink.h"

#include "resources/Check.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <ostream>
#include <random>

namespace fs = boost::filesystem;
using namespace Korvane::Testing;
using Korvane::UpdateManager::BackgroundMD5;
using Korvane::UpdateManager::Check;
using Korvane::UpdateManager::DigestingFileSink;

namespace
{
constexpr size_t kChunk = 8192; // what the HTTP client hands over at most

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string text(size, '\0');
    for (auto& c : text)
        c = static_cast<char>(generator() & 0xff);
    return text;
}

// Writes `text` in chunks as the HTTP client does and returns the writing
// position after each chunk, read the way the client reads it.
std::vector<int64_t> WriteInChunks(std::ostream& out, const std::string& text, size_t chunk)
{
    std::vector<int64_t> positions;
    for (size_t at = 0; at < text.size(); at += chunk)
    {
        out.write(text.data() + at,
                  static_cast<std::streamsize>(std::min(chunk, text.size() - at)));
        positions.push_back(out.good() ? static_cast<int64_t>(out.tellp()) : -1);
    }
    return positions;
}

// The same through the stream the worker used before: an std::ofstream.
std::vector<int64_t> ReferencePositions(const fs::path& file, const std::string& onDisk,
                                        const std::string& text, size_t chunk)
{
    WriteFile(file, onDisk);
    std::ofstream out(file.string(), std::ios::binary | std::ios::app);
    return WriteInChunks(out, text, chunk);
}

struct SinkCase
{
    const char* name;
    size_t onDisk; // bytes already in the file (a resume)
    size_t body;   // bytes written through the sink
    size_t chunk;
};

void PrintTo(const SinkCase& c, std::ostream* out)
{
    *out << c.name;
}

class DigestingFileSinkTest : public ::testing::TestWithParam<SinkCase>
{
  protected:
    TempDirectory mDirectory;
};

TEST_P(DigestingFileSinkTest, FilePositionsAndDigestAsBefore)
{
    const SinkCase& c = GetParam();
    const std::string onDisk = RandomBytes(c.onDisk, 1);
    const std::string body = RandomBytes(c.body, 2);
    const fs::path reference = mDirectory / "reference.dmg";
    const std::vector<int64_t> expected = ReferencePositions(reference, onDisk, body, c.chunk);

    const fs::path file = mDirectory / "Setup.dmg";
    WriteFile(file, onDisk);
    DigestingFileSink sink;
    std::ostream out(&sink);
    ASSERT_TRUE(sink.Open(file, /*truncate=*/false, /*digest=*/true));
    EXPECT_EQ(WriteInChunks(out, body, c.chunk), expected);
    EXPECT_TRUE(sink.Close());
    const BackgroundMD5::Result digest = sink.FinishDigest();

    EXPECT_EQ(ReadFile(file), onDisk + body);
    EXPECT_EQ(digest.mHex, Check::ComputeChecksum(file));
    EXPECT_EQ(digest.mHex, Check::ComputeChecksum(reference));
    EXPECT_EQ(digest.mBytes, static_cast<int64_t>(c.onDisk + c.body));
}

constexpr size_t kBlock = BackgroundMD5::kBlockSize;

INSTANTIATE_TEST_SUITE_P(
    Cases, DigestingFileSinkTest,
    ::testing::Values(SinkCase{"Empty", 0, 0, kChunk}, SinkCase{"OneByte", 0, 1, kChunk},
                      SinkCase{"OneChunk", 0, kChunk, kChunk},
                      SinkCase{"BlockMinusOne", 0, kBlock - 1, kChunk},
                      SinkCase{"ExactBlock", 0, kBlock, kChunk},
                      SinkCase{"BlockPlusOne", 0, kBlock + 1, kChunk},
                      SinkCase{"ManyBlocks", 0, 9 * kBlock + 12345, kChunk},
                      SinkCase{"OddChunks", 0, 3 * kBlock + 7, 1000},
                      SinkCase{"ChunkLargerThanBlock", 0, 3 * kBlock + 7, kBlock + 3},
                      SinkCase{"ResumeSmallPart", 1000, 3 * kBlock, kChunk},
                      SinkCase{"ResumeLargePart", 5 * kBlock + 3, 2 * kBlock + 1, kChunk},
                      SinkCase{"ResumeNothingLeft", 2 * kBlock, 0, kChunk}),
    [](const ::testing::TestParamInfo<SinkCase>& info) { return std::string(info.param.name); });

TEST(DigestingFileSinkPathsTest, StoppedAndResumedSeveralTimes)
{
    TempDirectory directory;
    const fs::path file = directory / "Setup.dmg";
    const std::string source = RandomBytes(7 * kBlock + 99, 3);
    const size_t stops[] = {0, 5000, kBlock, 3 * kBlock + 17, 3 * kBlock + 17, source.size()};
    DigestingFileSink sink; // one sink reopened, as a worker would not do, to test reuse too
    BackgroundMD5::Result last;
    for (size_t i = 0; i + 1 < std::size(stops); ++i)
    {
        std::ostream out(&sink);
        ASSERT_TRUE(sink.Open(file, false, true));
        ASSERT_EQ(static_cast<int64_t>(out.tellp()), static_cast<int64_t>(stops[i]));
        WriteInChunks(out, source.substr(stops[i], stops[i + 1] - stops[i]), kChunk);
        ASSERT_TRUE(sink.Close());
        EXPECT_EQ(ReadFile(file), source.substr(0, stops[i + 1]));
        last = sink.FinishDigest();
        EXPECT_EQ(last.mHex, Check::ComputeChecksum(file)) << "after stop " << i;
    }
    EXPECT_EQ(last.mBytes, static_cast<int64_t>(source.size()));
}

TEST(DigestingFileSinkPathsTest, TruncatedAfterOpeningStartsTheDigestAgain)
{
    TempDirectory directory;
    const fs::path file = directory / "Setup.dmg";
    WriteFile(file, std::string(1000, 'g'));
    const std::string source = RandomBytes(2 * kBlock + 5, 4);
    DigestingFileSink sink;
    std::ostream out(&sink);
    ASSERT_TRUE(sink.Open(file, false, true));
    EXPECT_EQ(static_cast<int64_t>(out.tellp()), 1000);
    sink.Close();
    ASSERT_TRUE(sink.Open(file, /*truncate=*/true, true));
    EXPECT_EQ(static_cast<int64_t>(out.tellp()), 0);
    WriteInChunks(out, source, kChunk);
    sink.Close();
    EXPECT_EQ(ReadFile(file), source);
    EXPECT_EQ(sink.FinishDigest().mHex, Check::ComputeChecksum(file));
}

TEST(DigestingFileSinkPathsTest, WithoutDigestTheFileIsTheSameAndNoDigestIsGiven)
{
    TempDirectory directory;
    const fs::path file = directory / "Setup.dmg";
    const std::string source = RandomBytes(3 * kBlock + 1, 5);
    DigestingFileSink sink;
    std::ostream out(&sink);
    ASSERT_TRUE(sink.Open(file, false, /*digest=*/false));
    WriteInChunks(out, source, kChunk);
    sink.Close();
    EXPECT_EQ(ReadFile(file), source);
    EXPECT_EQ(sink.FinishDigest().mHex, "");
}

TEST(DigestingFileSinkPathsTest, DirectoryCannotBeOpened)
{
    TempDirectory directory;
    DigestingFileSink sink;
    EXPECT_FALSE(sink.Open(directory / "", false, true));
    EXPECT_FALSE(sink.IsOpen());
    std::ostream out(&sink);
    out.write("abc", 3);
    EXPECT_FALSE(out.good());
}

TEST(DigestingFileSinkPathsTest, WriteErrorFailsTheStreamAndGivesNoDigest)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    DigestingFileSink sink;
    std::ostream out(&sink);
    ASSERT_TRUE(sink.Open("/dev/full", false, true));
    const std::vector<int64_t> positions = WriteInChunks(out, RandomBytes(2 * kBlock, 6), kChunk);
    EXPECT_EQ(positions.back(), -1);
    EXPECT_FALSE(sink.Close());
    EXPECT_EQ(sink.FinishDigest().mHex, "");
}
} // namespace
