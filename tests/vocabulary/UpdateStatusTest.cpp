#include "UpdateStatus.h"
#include "ProductDescription.h"

#include <gtest/gtest.h>

using namespace Korvane::UpdateManager;

TEST(UpdateStatusTest, ToStringOfEveryValue)
{
    struct Case
    {
        int value;
        const char* text;
    };
    const Case cases[] = {
        {0, "unknown"},
        {1, "up-to-date"},
        {2, "update needed"},
        {3, "download in progress"},
        {4, "download paused"},
        {5, "<error>"},
        {6, "installer available"},
        {7, "installer start"},
        {8, "install in progress"},
        {9, "install complete"},
        {10, "<error>"},
        {11, "error"},
        {12, "<error>"},
        {-1, "<error>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToString(static_cast<UpdateStatus>(c.value)), c.text) << c.value;
}

TEST(UpdateStatusTest, NumbersAreFixed)
{
    EXPECT_EQ(Unknown, 0);
    EXPECT_EQ(DownloadFailed, 5);
    EXPECT_EQ(OsNotSupported, 10);
    EXPECT_EQ(Error, 11);
    EXPECT_EQ(sizeof(UpdateStatus), 4u);
}

TEST(ProductDescriptionTest, DefaultIsEmpty)
{
    const ProductDescription description;
    EXPECT_TRUE(description.mLocalVersion.empty());
    EXPECT_TRUE(description.mSku.empty());
    EXPECT_TRUE(description.mChecksum.empty());
    EXPECT_EQ(description.mSize, 0u);
}
