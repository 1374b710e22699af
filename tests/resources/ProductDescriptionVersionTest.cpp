#include "ProductDescription.h"
#include "platform/OsVersion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

using Korvane::Platform::IOsVersionSource;
using Korvane::Platform::OsVersion;
using Korvane::UpdateManager::ProductDescription;

namespace
{
struct VersionCase
{
    std::string text;
    uint64_t expected;
};

void PrintTo(const VersionCase& c, std::ostream* out)
{
    *out << "'" << c.text << "'";
}

class StringVersionToIntTest : public ::testing::TestWithParam<VersionCase>
{
};

TEST_P(StringVersionToIntTest, Packs)
{
    EXPECT_EQ(ProductDescription::StringVersionToInt(GetParam().text), GetParam().expected)
        << "'" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Table, StringVersionToIntTest,
    ::testing::Values(
        VersionCase{"1.2", 281483566645248ULL}, VersionCase{"1.2.3", 281483566841856ULL},
        VersionCase{"1.2.3.4", 281483566841860ULL}, VersionCase{"1.2.3.4.5", 281483566841860ULL},
        VersionCase{"1.0.5.20", 281474977038356ULL}, VersionCase{"2.0.0.1234", 562949953422546ULL},
        VersionCase{"65535.65535.65535.65535", 18446744073709551615ULL}, VersionCase{"10", 0},
        VersionCase{"", 0}, VersionCase{"1..2", 0}, VersionCase{"1.2.x", 0},
        VersionCase{"1.2.3b", 0}, VersionCase{"1.65536", 0},
        VersionCase{"1.2.3.4.x", 281483566841860ULL}, VersionCase{"not_installed", 0},
        VersionCase{"1.", 0}, VersionCase{"1.-1", (1ULL << 48) + (65535ULL << 32)},
        VersionCase{"+1.2", 281483566645248ULL}, VersionCase{"1. 2", 0}, VersionCase{"1.+", 0},
        VersionCase{"1.99999999999", 0}));

// Reports a fixed version in place of the system's.
class FixedOsVersion : public IOsVersionSource
{
  public:
    explicit FixedOsVersion(OsVersion version) : mVersion(version) {}
    OsVersion GetVersion() const override { return mVersion; }

  private:
    OsVersion mVersion;
};

// Installs a source for the lifetime of the guard.
class ScopedOsVersion
{
  public:
    explicit ScopedOsVersion(OsVersion version)
        : mSource(version), mPrevious(Korvane::Platform::SetOsVersionSource(&mSource))
    {
    }
    ~ScopedOsVersion() { Korvane::Platform::SetOsVersionSource(mPrevious); }

  private:
    FixedOsVersion mSource;
    const IOsVersionSource* mPrevious;
};

struct OsCase
{
    std::string min;
    std::string max;
    bool expected;
};

void PrintTo(const OsCase& c, std::ostream* out)
{
    *out << "min '" << c.min << "' max '" << c.max << "'";
}

class IsOsSupportedTest : public ::testing::TestWithParam<OsCase>
{
};

TEST_P(IsOsSupportedTest, AtTenNineFive)
{
    ScopedOsVersion os({10, 9, 5});
    ProductDescription product;
    product.mPlatformMinVersion = GetParam().min;
    product.mPlatformMaxVersion = GetParam().max;
    EXPECT_EQ(product.IsOsSupported(), GetParam().expected)
        << "min '" << GetParam().min << "' max '" << GetParam().max << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsOsSupportedTest,
    ::testing::Values(OsCase{"", "", true}, OsCase{"10.7", "", true}, OsCase{"10.10", "", false},
                      OsCase{"", "10.9", true}, OsCase{"", "10.9.4", false}, OsCase{"", "10", true},
                      OsCase{"10", "", true}, OsCase{"abc", "", true}, OsCase{"", "abc", false},
                      OsCase{"10.9.5", "10.9.5", true}, OsCase{"10.9.6", "11", false}));

TEST(IsOsSupported, UnreadableSystemVersionCountsAsSupported)
{
    ScopedOsVersion os({0, 0, 0});
    ProductDescription product;
    product.mPlatformMinVersion = "99.0";
    product.mPlatformMaxVersion = "abc";
    EXPECT_TRUE(product.IsOsSupported());
}

TEST(OsVersion, ParsesLeadingNumbersOfARelease)
{
    struct Case
    {
        const char* release;
        uint32_t major, minor, patch;
    };
    const Case cases[] = {{"6.1.0-18-amd64", 6, 1, 0},
                          {"5.15.133.1-microsoft", 5, 15, 133},
                          {"4.19", 4, 19, 0},
                          {"6.8-rc3", 6, 8, 0},
                          {"", 0, 0, 0},
                          {"abc", 0, 0, 0},
                          {nullptr, 0, 0, 0}};
    for (const Case& c : cases)
    {
        const OsVersion version = Korvane::Platform::ParseOsVersion(c.release);
        EXPECT_EQ(version.mMajor, c.major) << (c.release ? c.release : "null");
        EXPECT_EQ(version.mMinor, c.minor) << (c.release ? c.release : "null");
        EXPECT_EQ(version.mPatch, c.patch) << (c.release ? c.release : "null");
    }
}

TEST(OsVersion, SystemSourceIsTheDefault)
{
    const OsVersion system = Korvane::Platform::SystemOsVersionSource().GetVersion();
    const OsVersion current = Korvane::Platform::CurrentOsVersion();
    EXPECT_EQ(system.mMajor, current.mMajor);
    EXPECT_GT(system.mMajor, 0u);
}
} // namespace
