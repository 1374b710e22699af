// The resource query and the download against nginx, an HTTP server that is
// not ours: its own Content-Length, 206 and 416 answers and keep-alive.
#include "FaultVerdict.h"

#include "UpdateStatus.h"
#include "basictools/logger/CLog.h"
#include "resources/Downloader.h"
#include "resources/HttpResourceClient.h"
#include "resources/ProductDescriptionFactory.h"
#include "resources/ProductResources.h"
#include "support/NginxServer.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <optional>

namespace fs = boost::filesystem;
using namespace Korvane::Testing;
using namespace Korvane::UpdateManager;

namespace
{
constexpr size_t kInstallerSize = 1000000;

class NginxPeerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!NginxServer::Available())
            GTEST_SKIP() << "nginx is not installed (scripts/setup-deps installs nginx-light)";
        mNginx.emplace();
        ASSERT_TRUE(mNginx->Running()) << mNginx->ErrorLog();
        WriteFile(mNginx->Root() / "files" / "Setup.dmg", mSource);
        mOutsideBefore = mScene.OutsideDownloads();
    }

    void TearDown() override
    {
        mDownloader.reset();
        CSingleton<CLog>::destroyInstance();
    }

    int Download(int64_t resumeFrom)
    {
        if (!mDownloader)
            mDownloader.emplace("Nginx Product");
        DownloaderBackgrounder::Data data;
        data.mUrl = mNginx->Url("/files/Setup.dmg");
        data.mDestination = mScene.Installer();
        data.mExpectedChecksum = mMd5;
        data.mExpectedSize = static_cast<int64_t>(mSource.size());
        data.mResumeFrom = resumeFrom;
        mDownloader->StartDownload(data);
        EXPECT_TRUE(WaitUntilEnded(*mDownloader));
        const int state = mDownloader->mTransferState.load();
        ExpectPromisesKept(mScene, state, mSource, mOutsideBefore);
        return state;
    }

    FaultScene mScene;
    std::set<std::string> mOutsideBefore;
    const std::string mSource = InstallerBytes(kInstallerSize);
    const std::string mMd5 = Md5Of(mSource);
    std::optional<NginxServer> mNginx;
    std::optional<DownloaderBackgrounder> mDownloader;
};

TEST_F(NginxPeerTest, ResourceQueryDescribesTheProduct)
{
    const std::string path = ProductResources::CreatePath("myproduct", "mac", "latest");
    WriteFile(mNginx->Root() / path.substr(1),
              R"({"total": 1, "resources": [{"product_sku": "myproduct", "name": "My Product",)"
              R"( "version": "2.0.0", "permalink": ")" +
                  mNginx->Url("/files/Setup.dmg") +
                  R"(", "resources_site_link": "http://127.0.0.1/p", "size": "1000000",)"
                  R"( "checksum": ")" +
                  mMd5 + R"("}]})");

    HttpResourceClient client;
    boost::property_tree::ptree answer;
    ASSERT_TRUE(client.Get(mNginx->HostAndPort() + path, answer, [](double) {}));
    const ProductResources resources(answer);
    ASSERT_TRUE(resources.IsValidResources());
    ProductDescription product;
    ASSERT_TRUE(ProductDescriptionFactory().Create("myproduct", "1.0.0",
                                                   resources.GetProductProperties(), product));
    EXPECT_EQ(product.mVersion, "2.0.0");
    EXPECT_EQ(product.mSize, kInstallerSize);
    EXPECT_EQ(product.mChecksum, mMd5);

    // Unknown product: nginx's 404 page is no answer.
    boost::property_tree::ptree none;
    EXPECT_FALSE(client.Get(mNginx->HostAndPort() +
                                ProductResources::CreatePath("nosuchproduct", "mac", "latest"),
                            none, [](double) {}));
    EXPECT_EQ(client.GetResult(), HttpResultNone);
}

TEST_F(NginxPeerTest, FullDownloadIsCompleteAndIdentical)
{
    ASSERT_EQ(Download(0), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mScene.Installer()), mSource);
    EXPECT_EQ(mDownloader->mComputedChecksum, mMd5);
}

TEST_F(NginxPeerTest, PartialFileResumesWithTheRest)
{
    WriteFile(mScene.Installer(), mSource.substr(0, 123457));
    int64_t startingPosition = 0;
    ASSERT_EQ(mScene.StatusOnDisk(startingPosition), DownloadPaused);
    ASSERT_EQ(Download(startingPosition), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mScene.Installer()), mSource);
}

TEST_F(NginxPeerTest, CompleteFileOnDiskIsAnsweredWithRangeNotSatisfiable)
{
    WriteFile(mScene.Installer(), mSource);
    int64_t startingPosition = 0;
    ASSERT_EQ(mScene.StatusOnDisk(startingPosition), DownloadPaused);
    ASSERT_EQ(startingPosition, static_cast<int64_t>(kInstallerSize));
    ASSERT_EQ(Download(startingPosition), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mScene.Installer()), mSource);
}

// Several transfers on the worker's one kept-alive connection, as the window
// resumes a download: every answer is read whole before the next request.
TEST_F(NginxPeerTest, WorkerReusesItsConnectionAcrossTransfers)
{
    ASSERT_EQ(Download(0), DownloaderBackgrounder::TransferComplete);
    ASSERT_EQ(Download(static_cast<int64_t>(kInstallerSize)),
              DownloaderBackgrounder::TransferComplete);
    fs::resize_file(mScene.Installer(), 5000);
    ASSERT_EQ(Download(5000), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mScene.Installer()), mSource);
}

} // namespace
