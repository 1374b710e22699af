#include "ManagerFixture.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <algorithm>

using namespace Korvane::Testing;
using namespace Korvane::UpdateManager;

namespace
{
size_t Count(const std::string& text, const std::string& pattern)
{
    size_t count = 0;
    for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
        ++count;
    return count;
}

size_t CountOf(const std::vector<std::string>& skus, const std::string& sku)
{
    return static_cast<size_t>(std::count(skus.begin(), skus.end(), sku));
}

class InformationCycleTest : public ManagerFixture
{
};

TEST_F(InformationCycleTest, AdditionalProductIsRequestedAsNotInstalled)
{
    ServeProductWithFile("alpha", "Alpha.dmg", Payload(1000));
    MakeManager();
    Manager().SetAdditionalProducts({"alpha"});

    Manager().Update("alpha");

    EXPECT_EQ(Hits(ResourcePath("alpha")), 1u);
    ASSERT_EQ(Manager().Count(), 1u);
    const ProductModel& model = Manager().GetProduct("alpha");
    EXPECT_EQ(model.mDescription.mLocalVersion, "not_installed");
    EXPECT_EQ(model.mDescription.mName, "Product alpha");
    EXPECT_EQ(model.mDescription.mVersion, "2.0.0");
    EXPECT_EQ(model.mInstaller.GetStatus(), UpdateNeeded);
    EXPECT_EQ(model.mInstaller.GetDownloadURL(), FileUrl("Alpha.dmg"));
    EXPECT_EQ(model.mInstaller.GetFile(), Downloads() / "Alpha.dmg");
    EXPECT_TRUE(model.mDownloader != nullptr);
    EXPECT_EQ(mEvents.mChanged, std::vector<std::string>{"alpha"});
    EXPECT_EQ(mEvents.mListChanged, 1);

    const std::string log = FinishAndReadLog();
    EXPECT_NE(log.find(" Initialize UpdateManager"), std::string::npos) << log;
    EXPECT_NE(log.find(" Getting descriptions for all products"), std::string::npos) << log;
    EXPECT_NE(log.find("  Local computed data:"), std::string::npos) << log;
    const std::string data = "Data for Product alpha:\n"
                             "  URL:            " +
                             FileUrl("Alpha.dmg") +
                             "\n"
                             "  SKU:            alpha\n"
                             "  Local version:  not_installed\n"
                             "  Latest Version: 2.0.0\n"
                             "  Installer File: \"" +
                             (Downloads() / "Alpha.dmg").string() +
                             "\"\n"
                             "  Status:         update needed";
    EXPECT_NE(log.find(data), std::string::npos) << log;
    EXPECT_NE(log.find(" Terminate UpdateManager"), std::string::npos) << log;
}

TEST_F(InformationCycleTest, UnwantedUnknownProductIsNotRequested)
{
    ServeProductWithFile("alpha", "Alpha.dmg", Payload(1000));
    MakeManager();

    Manager().Update("alpha");

    EXPECT_EQ(Hits(ResourcePath("alpha")), 0u);
    EXPECT_EQ(Manager().Count(), 0u);
    EXPECT_TRUE(mEvents.mChanged.empty());
    EXPECT_EQ(mEvents.mListChanged, 1);
    EXPECT_THROW(Manager().GetProduct("alpha"), std::out_of_range);
}

TEST_F(InformationCycleTest, ConnectionFailureStopsTheCycle)
{
    std::string closedHost;
    {
        LoopbackHttpServer gone([](const RecordedRequest&)
                                { return ScriptedResponse::Status(200); });
        closedHost = gone.HostAndPort();
    }
    mManager = std::make_unique<UpdateManager>("", closedHost);
    mEvents.Attach(*mManager);
    Manager().SetAdditionalProducts({"alpha", "beta"});

    Manager().Update();

    ASSERT_EQ(Manager().Count(), 2u);
    EXPECT_EQ(Status("alpha"), Unknown);
    EXPECT_EQ(Status("beta"), Unknown);
    EXPECT_EQ(Manager().GetProduct("beta").mDescription.mLocalVersion, "not_installed");
    EXPECT_TRUE(Manager().GetProduct("beta").mInstaller.GetFile().empty());

    const std::string log = FinishAndReadLog();
    EXPECT_EQ(Count(log, " Could not connect to resources server."), 1u) << log;
    // Only the first SKU (in key order) was tried.
    EXPECT_EQ(Count(log, "Error connecting to "), 1u) << log;
    EXPECT_NE(log.find("/alpha/mac/latest"), std::string::npos) << log;
    EXPECT_EQ(log.find("/beta/mac/latest"), std::string::npos) << log;
}

TEST_F(InformationCycleTest, BadAnswersAreLoggedAndTheCycleGoesOn)
{
    // In key order: no resource (404), not JSON, a list whose count differs
    // from its total, a resource of another SKU, and a good one.
    ServedProduct notJson;
    notJson.mRawAnswer = "<html>busy</html>";
    Serve("b-html", notJson);
    ServedProduct badList;
    badList.mRawAnswer = R"({"total": "2", "resources": [{"product_sku": "c-list"}]})";
    Serve("c-list", badList);
    ServedProduct otherSku;
    otherSku.mName = "Other";
    otherSku.mPermalink = FileUrl("Other.dmg");
    otherSku.mProductSku = "someone-else";
    Serve("d-other", otherSku);
    ServeProductWithFile("e-good", "Good.dmg", Payload(10));
    MakeManager();
    Manager().SetAdditionalProducts({"a-missing", "b-html", "c-list", "d-other", "e-good"});

    Manager().Update();

    ASSERT_EQ(Manager().Count(), 5u);
    for (const char* sku : {"a-missing", "b-html", "c-list", "d-other"})
    {
        EXPECT_EQ(Status(sku), Unknown) << sku;
        EXPECT_EQ(Manager().GetProduct(sku).mDescription.mLocalVersion, "not_installed") << sku;
    }
    EXPECT_EQ(Status("e-good"), UpdateNeeded);
    EXPECT_EQ(mEvents.mChanged.size(), 5u);

    const std::string log = FinishAndReadLog();
    const std::string prefix = " Could not get product information for ";
    const std::string noResponse = ": invalid response (no response or invalid json format";
    EXPECT_EQ(Count(log, prefix + "a-missing" + noResponse), 1u) << log;
    EXPECT_EQ(Count(log, prefix + "b-html" + noResponse), 1u) << log;
    EXPECT_EQ(Count(log, prefix + "c-list: invalid resource data"), 1u) << log;
    EXPECT_EQ(Count(log, prefix + "d-other: invalid description data"), 1u) << log;
    EXPECT_EQ(Count(log, prefix + "e-good"), 0u) << log;
}

TEST_F(InformationCycleTest, SkuThatMakesAnUnparsableUrlIsABadAnswer)
{
    // The SKU goes into the query path unescaped; the URL parser rejects it.
    ServeProductWithFile("b-good", "Good.dmg", Payload(10));
    MakeManager();
    Manager().SetAdditionalProducts({"a%zz", "b-good"});

    Manager().Update();

    EXPECT_EQ(Status("a%zz"), Unknown);
    EXPECT_EQ(Status("b-good"), UpdateNeeded);
    const std::string log = FinishAndReadLog();
    EXPECT_EQ(Count(log, " Could not get product information for a%zz: invalid response (no "
                         "response or invalid json format"),
              1u)
        << log;
}

TEST_F(InformationCycleTest, OperatingSystemOutsideTheRangeIsNotSupported)
{
    ServeProductWithFile("alpha", "Alpha.dmg", Payload(1000));
    ServedProduct product;
    product.mName = "Alpha";
    product.mPermalink = FileUrl("Alpha.dmg");
    product.mPlatformMin = "999.0";
    Serve("alpha", product);
    MakeManager();
    Manager().SetAdditionalProducts({"alpha"});

    Manager().Update("alpha");

    EXPECT_EQ(Status("alpha"), OsNotSupported);
    // A skipped product: ticks leave it alone and announce nothing.
    mEvents.Clear();
    Manager().ProcessState();
    EXPECT_EQ(Status("alpha"), OsNotSupported);
    EXPECT_TRUE(mEvents.mChanged.empty());
}

TEST_F(InformationCycleTest, FullUpdateRemovesProductsNoLongerWanted)
{
    ServeProductWithFile("alpha", "Alpha.dmg", Payload(100));
    ServeProductWithFile("beta", "Beta.dmg", Payload(100));
    MakeManager();
    Manager().SetAdditionalProducts({"alpha", "beta"});
    Manager().Create();
    ASSERT_EQ(Manager().Count(), 2u);
    EXPECT_EQ(Manager().Product(0).mDescription.mSku, "alpha");
    EXPECT_EQ(Manager().Product(1).mDescription.mSku, "beta");
    std::weak_ptr<DownloaderBackgrounder> betaWorker = Manager().GetProduct("beta").mDownloader;

    Manager().SetAdditionalProducts({"alpha"});
    Manager().Update();

    ASSERT_EQ(Manager().Count(), 1u);
    EXPECT_EQ(Manager().Products().begin()->first, "alpha");
    EXPECT_THROW(Manager().GetProduct("beta"), std::out_of_range);
    EXPECT_TRUE(betaWorker.expired());
}

TEST_F(InformationCycleTest, NewProductFiresOnceAndARepeatedUpdateNever)
{
    ServeProductWithFile("alpha", "Alpha.dmg", Payload(100));
    MakeManager();
    Manager().SetAdditionalProducts({"alpha"});

    Manager().Update("alpha");
    EXPECT_EQ(CountOf(mEvents.mChanged, "alpha"), 1u);
    EXPECT_EQ(mEvents.mListChanged, 1);

    Manager().Update("alpha");
    Manager().Update();
    EXPECT_EQ(CountOf(mEvents.mChanged, "alpha"), 1u);
    EXPECT_EQ(mEvents.mListChanged, 3);
    EXPECT_EQ(Hits(ResourcePath("alpha")), 3u);
}

TEST_F(InformationCycleTest, CreateWithAVersionSkipsTheScanner)
{
    ServeProductWithFile("alpha", "Alpha.dmg", Payload(100));
    MakeManager();

    Manager().Create("alpha", "2.0.0");
    EXPECT_EQ(Status("alpha"), UpToDate);
    Manager().Create("alpha", "1.9");
    EXPECT_EQ(Status("alpha"), UpdateNeeded);
    EXPECT_EQ(Manager().GetProduct("alpha").mDescription.mLocalVersion, "1.9");
}

TEST_F(InformationCycleTest, OfflineModeMakesNoRequest)
{
    ServeProductWithFile("alpha", "Alpha.dmg", Payload(100));
    MakeManager();
    Manager().SetOnlineMode(false);
    Manager().SetAdditionalProducts({"alpha"});

    Manager().Update();

    EXPECT_EQ(Hits(ResourcePath("alpha")), 0u);
    EXPECT_EQ(Status("alpha"), Unknown);
    // No URL, so no installer file and no download.
    EXPECT_FALSE(Manager().LaunchDownload("alpha", true));
}

TEST_F(InformationCycleTest, UrlChangeDuringARunningDownloadKeepsTheOldUrlAndFile)
{
    // An "ftp" installer is queued but never transferred: the product stays
    // in DownloadInProgress with an idle worker.
    ServedProduct product;
    product.mName = "Alpha";
    product.mPermalink = "ftp://127.0.0.1/dl/Old.dmg";
    Serve("alpha", product);
    MakeManager();
    Manager().SetAdditionalProducts({"alpha"});
    Manager().Update("alpha");
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_EQ(Status("alpha"), DownloadInProgress);

    product.mPermalink = FileUrl("New.dmg");
    Serve("alpha", product);
    Manager().Update("alpha");

    const ProductModel& model = Manager().GetProduct("alpha");
    EXPECT_EQ(model.mDescription.mPermalink, FileUrl("New.dmg"));
    EXPECT_EQ(model.mInstaller.GetDownloadURL(), "ftp://127.0.0.1/dl/Old.dmg");
    EXPECT_EQ(model.mInstaller.GetFile(), Downloads() / "Old.dmg");
    EXPECT_EQ(model.mInstaller.GetStatus(), DownloadInProgress);
}

TEST_F(InformationCycleTest, UnusablePermalinkGetsNoFileAndNoDownload)
{
    // A permalink ending in "/.." would otherwise make the home directory the
    // installer file, which a cancel deletes.
    ServedProduct product;
    product.mName = "Alpha";
    product.mPermalink = mServer.Url("/files/..");
    Serve("alpha", product);
    ServeProductWithFile("beta", "Beta.dmg", Payload(100));
    Korvane::Testing::WriteFile(Downloads() / "keep.txt", "keep");
    MakeManager();
    Manager().SetAdditionalProducts({"alpha", "beta"});
    Manager().Update();

    EXPECT_EQ(Status("alpha"), UpdateNeeded);
    EXPECT_TRUE(Manager().GetProduct("alpha").mInstaller.GetFile().empty());
    EXPECT_FALSE(Manager().LaunchDownload("alpha", false));
    EXPECT_FALSE(Manager().LaunchDownload("alpha", true));
    EXPECT_TRUE(Manager().CancelDownload("alpha"));
    Manager().LaunchDownload();
    EXPECT_EQ(Status("alpha"), UpdateNeeded);
    EXPECT_EQ(Status("beta"), DownloadInProgress);
    EXPECT_TRUE(boost::filesystem::exists(Downloads() / "keep.txt"));
    EXPECT_TRUE(boost::filesystem::is_directory(Downloads()));

    const std::string log = FinishAndReadLog();
    EXPECT_EQ(
        Count(log, " Attempt to launch download for Alpha (alpha) but status is update needed"), 2u)
        << log;
}

TEST_F(InformationCycleTest, ProductModelCopiesShareTheirWorker)
{
    ProductModel empty;
    EXPECT_EQ(empty.mInstaller.GetStatus(), Error);
    EXPECT_EQ(empty.mInstaller.GetProgress(), -1.0);
    EXPECT_EQ(empty.mDownloader, nullptr);

    ProductDescription description;
    description.mName = "Alpha";
    description.mSku = "alpha";
    auto first = std::make_unique<ProductModel>(description);
    std::weak_ptr<DownloaderBackgrounder> worker = first->mDownloader;
    {
        ProductModel copy(*first);
        EXPECT_EQ(copy.mDownloader, first->mDownloader);
        ProductModel assigned;
        assigned = *first;
        EXPECT_EQ(assigned.mDownloader, first->mDownloader);
        EXPECT_EQ(assigned.mDescription.mSku, "alpha");
    }
    EXPECT_FALSE(worker.expired());
    first.reset();
    EXPECT_TRUE(worker.expired());
}
} // namespace
