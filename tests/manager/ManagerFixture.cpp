#include "ManagerFixture.h"

#include "basictools/logger/CLog.h"
#include "support/PlatformStandIns.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <iostream>
#include <sstream>
#include <thread>

namespace Korvane
{
namespace Testing
{

using namespace Korvane::UpdateManager;

namespace
{
const std::string kResourcePrefix = "/api/resources/soft/";
const std::string kFilePrefix = "/files/";
} // namespace

// --- EventRecorder -----------------------------------------------------------

void EventRecorder::Attach(UpdateManager::UpdateManager& manager)
{
    manager.EventSource<ProductChangedEvent>::AddListener(this);
    manager.EventSource<ProductListChangedEvent>::AddListener(this);
    manager.EventSource<DownloadProgressEvent>::AddListener(this);
}

void EventRecorder::Detach(UpdateManager::UpdateManager& manager)
{
    manager.EventSource<ProductChangedEvent>::RemoveListener(this);
    manager.EventSource<ProductListChangedEvent>::RemoveListener(this);
    manager.EventSource<DownloadProgressEvent>::RemoveListener(this);
}

void EventRecorder::Clear()
{
    mChanged.clear();
    mListChanged = 0;
    mProgress.clear();
}

void EventRecorder::notify(const ProductChangedEvent& event)
{
    mChanged.push_back(event.sku);
    if (mOnChanged)
        mOnChanged(event.sku);
}

void EventRecorder::notify(const ProductListChangedEvent&)
{
    ++mListChanged;
}

void EventRecorder::notify(const DownloadProgressEvent& event)
{
    mProgress.push_back(event);
}

// --- Helpers -----------------------------------------------------------------

std::string ResourceAnswer(const std::string& sku, const ServedProduct& product)
{
    boost::property_tree::ptree resource;
    resource.put("product_sku", product.mProductSku.empty() ? sku : product.mProductSku);
    resource.put("name", product.mName);
    resource.put("version", product.mVersion);
    resource.put("permalink", product.mPermalink);
    resource.put("resources_site_link", "http://example.org/" + sku);
    if (!product.mPlatformMin.empty())
        resource.put("platform_min_version", product.mPlatformMin);
    resource.put("size", product.mSize);
    if (!product.mChecksum.empty())
        resource.put("checksum", product.mChecksum);

    boost::property_tree::ptree resources;
    resources.push_back({"", resource});
    boost::property_tree::ptree answer;
    answer.put("total", 1);
    answer.add_child("resources", resources);
    std::ostringstream text;
    boost::property_tree::write_json(text, answer, false);
    return text.str();
}

std::string Md5Hex(const std::string& contents)
{
    Poco::MD5Engine engine;
    engine.update(contents);
    return Poco::DigestEngine::digestToHex(engine.digest());
}

std::string Payload(size_t size, char seed)
{
    std::string body(size, '\0');
    uint32_t state = static_cast<uint32_t>(seed) * 2654435761u + 1;
    for (char& byte : body)
    {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return body;
}

// --- ManagerFixture ----------------------------------------------------------

ManagerFixture::ManagerFixture()
    : mHomeVariable("HOME", mHome.Path().string()),
      mPlatformRootVariable("UPDATER_PLATFORM_ROOT", mPlatformRoot.Path().string()),
      mServer([this](const RecordedRequest& request) { return Answer(request); })
{
    boost::filesystem::create_directories(Downloads());
    EXPECT_TRUE(InstallStandIns(mPlatformRoot.Path()));
    CSingleton<CLog>::destroyInstance();
    mCapture.emplace();
    CSingleton<CLog>::getInstance()->SetChannelLevels({{"update_manager", eLogDebug},
                                                       {"web", eLogError},
                                                       {"download", eLogDebug},
                                                       {"install", eLogDebug}});
}

ManagerFixture::~ManagerFixture()
{
    // A stalled transfer would hold up its worker's shutdown.
    mServer.ReleaseStall();
    if (mManager)
        mEvents.Detach(*mManager);
    mManager.reset();
    if (mCapture)
    {
        CSingleton<CLog>::destroyInstance();
        // gtest reports failures on standard output: show them, and the log.
        const std::string captured = mCapture->Release();
        if (HasFailure())
            std::cerr << captured;
    }
}

void ManagerFixture::MakeManager(const std::string& definitionFile)
{
    mManager =
        std::make_unique<UpdateManager::UpdateManager>(definitionFile, mServer.HostAndPort());
    mEvents.Attach(*mManager);
}

std::string ManagerFixture::FinishAndReadLog()
{
    mServer.ReleaseStall();
    if (mManager)
        mEvents.Detach(*mManager);
    mManager.reset();
    CSingleton<CLog>::destroyInstance();
    std::string text = mCapture->Release();
    mCapture.reset();
    return text;
}

void ManagerFixture::Serve(const std::string& sku, const ServedProduct& product)
{
    std::lock_guard<std::mutex> lock(mCatalogueMutex);
    mProducts[sku] = product;
}

void ManagerFixture::ServeFile(const std::string& name, const ServedFile& file)
{
    std::lock_guard<std::mutex> lock(mCatalogueMutex);
    mFiles[name] = file;
}

void ManagerFixture::ServeProductWithFile(const std::string& sku, const std::string& name,
                                          const std::string& contents,
                                          std::optional<size_t> stallAfter)
{
    ServedFile file;
    file.mContents = contents;
    file.mStallAfter = stallAfter;
    ServeFile(name, file);
    ServedProduct product;
    product.mName = "Product " + sku;
    product.mPermalink = FileUrl(name);
    product.mSize = contents.size();
    product.mChecksum = Md5Hex(contents);
    Serve(sku, product);
}

std::string ManagerFixture::FileUrl(const std::string& name) const
{
    return mServer.Url(kFilePrefix + name);
}

std::string ManagerFixture::ResourcePath(const std::string& sku) const
{
    return kResourcePrefix + sku + "/mac/latest";
}

size_t ManagerFixture::Hits(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mCatalogueMutex);
    const auto it = mHits.find(path);
    return it == mHits.end() ? 0 : it->second;
}

ScriptedResponse ManagerFixture::Answer(const RecordedRequest& request)
{
    std::lock_guard<std::mutex> lock(mCatalogueMutex);
    const size_t hit = ++mHits[request.mTarget];
    const std::string& target = request.mTarget;

    if (target.compare(0, kResourcePrefix.size(), kResourcePrefix) == 0)
    {
        const std::string rest = target.substr(kResourcePrefix.size());
        const std::string sku = rest.substr(0, rest.find('/'));
        const auto product = mProducts.find(sku);
        if (product == mProducts.end() || rest != sku + "/mac/latest")
            return ScriptedResponse::Status(404, "not found");
        if (product->second.mRawAnswer)
            return ScriptedResponse::Status(200, *product->second.mRawAnswer);
        return ScriptedResponse::Status(200, ResourceAnswer(sku, product->second));
    }
    if (target.compare(0, kFilePrefix.size(), kFilePrefix) == 0)
    {
        const auto file = mFiles.find(target.substr(kFilePrefix.size()));
        if (file == mFiles.end())
            return ScriptedResponse::Status(404, "not found");
        ScriptedResponse response = ScriptedResponse::Resource(file->second.mContents, request);
        if (hit == 1 && file->second.mStallAfter)
            response.mStallAfter = file->second.mStallAfter;
        return response;
    }
    return ScriptedResponse::Status(404, "not found");
}

UpdateStatus ManagerFixture::Status(const std::string& sku) const
{
    return mManager->GetProduct(sku).mInstaller.GetStatus();
}

bool ManagerFixture::TickUntil(const std::function<bool()>& done, bool completedInstallers)
{
    const auto deadline = std::chrono::steady_clock::now() + kTickBound;
    while (std::chrono::steady_clock::now() < deadline)
    {
        mManager->ProcessState();
        if (completedInstallers)
            mManager->ProcessCompletedInstallers();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool ManagerFixture::TickUntilStatus(const std::string& sku, UpdateStatus status)
{
    return TickUntil([&] { return Status(sku) == status; });
}

boost::filesystem::path ManagerFixture::Downloads() const
{
    return mHome.Path() / "Downloads";
}

} // namespace Testing
} // namespace Korvane
