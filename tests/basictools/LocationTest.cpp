#include "basictools/location.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <optional>

using Korvane::GetLocation;
using Korvane::Location;
using Korvane::ReplaceKnownLocation;
using Korvane::Testing::ScopedEnvironment;

namespace
{
struct LocationCase
{
    int location;
    const char* withHome; // HOME=/home/tester
    const char* withoutHome;
};

const LocationCase kLocations[] = {
    {0, "/Library/", "/Library/"},
    {1, "", ""},
    {2, "", ""},
    {3, "/home/tester/Desktop/", "~/Desktop/"},
    {4, "/home/tester/Downloads/", "~/Downloads/"},
    {5, "/home/tester/", "~/"},
    {6, "/", "/"},
};
} // namespace

TEST(LocationTest, GetLocationWithHomeSet)
{
    ScopedEnvironment home("HOME", std::string("/home/tester"));
    for (const LocationCase& c : kLocations)
    {
        std::string text = "previous";
        EXPECT_TRUE(GetLocation(static_cast<Location>(c.location), text)) << c.location;
        EXPECT_EQ(text, c.withHome) << c.location;
    }
}

TEST(LocationTest, GetLocationWithHomeUnsetKeepsTilde)
{
    ScopedEnvironment home("HOME", std::nullopt);
    for (const LocationCase& c : kLocations)
    {
        std::string text = "previous";
        EXPECT_TRUE(GetLocation(static_cast<Location>(c.location), text)) << c.location;
        EXPECT_EQ(text, c.withoutHome) << c.location;
    }
}

TEST(LocationTest, GetLocationOutsideTheTableLeavesTextAlone)
{
    for (const int value : {7, 100, -1})
    {
        std::string text = "previous";
        EXPECT_FALSE(GetLocation(static_cast<Location>(value), text)) << value;
        EXPECT_EQ(text, "previous");
    }
}

namespace
{
struct ReplaceCase
{
    const char* path;
    const char* withHome;
    const char* withoutHome;
};

const ReplaceCase kReplacements[] = {
    {"<pf64>/Applications/My Product.app", "/Applications/My Product.app",
     "/Applications/My Product.app"},
    {"<pf86>/Applications/A.app", "/Applications/A.app", "/Applications/A.app"},
    {"<data>Application Support/A", "/Library/Application Support/A",
     "/Library/Application Support/A"},
    {"<user>Applications/A.app", "/home/tester/Applications/A.app", "~/Applications/A.app"},
    {"<user>", "/home/tester/", "~/"},
    {"/Applications/<user>A.app", "/Applications/<user>A.app", "/Applications/<user>A.app"},
    {"<desktop>A.app", "<desktop>A.app", "<desktop>A.app"},
    {"<data", "<data", "<data"},
    {"<USER>A.app", "<USER>A.app", "<USER>A.app"},
    {"<user><data>A", "/home/tester/<data>A", "~/<data>A"},
    {"", "", ""},
    {"relative/path", "relative/path", "relative/path"},
};
} // namespace

TEST(LocationTest, ReplaceKnownLocationWithHomeSet)
{
    ScopedEnvironment home("HOME", std::string("/home/tester"));
    for (const ReplaceCase& c : kReplacements)
        EXPECT_EQ(ReplaceKnownLocation(c.path), c.withHome) << c.path;
}

TEST(LocationTest, ReplaceKnownLocationWithHomeUnset)
{
    ScopedEnvironment home("HOME", std::nullopt);
    for (const ReplaceCase& c : kReplacements)
        EXPECT_EQ(ReplaceKnownLocation(c.path), c.withoutHome) << c.path;
}
