#include "basictools/sharedobject.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

TEST(SharedObjectTest, PathNamesTheRunningExecutable)
{
    const std::string path = Korvane::GetDyLibFullPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.find("/./"), std::string::npos);
    EXPECT_EQ(boost::filesystem::path(path).filename(), "basictools_tests");
    EXPECT_TRUE(boost::filesystem::exists(path));
}
