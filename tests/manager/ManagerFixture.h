#pragma once

#include "UpdateManager.h"
#include "support/CapturedStdout.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <boost/filesystem/path.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Korvane
{
namespace Testing
{

// What the resource server says about one product.
struct ServedProduct
{
    std::string mName;
    std::string mVersion = "2.0.0";
    std::string mPermalink; // full URL of the installer
    std::string mPlatformMin;
    uint64_t mSize = 0;
    std::string mChecksum;
    // The SKU the answer names; the one asked for when empty.
    std::string mProductSku;
    // Sent instead of the resource list when set.
    std::optional<std::string> mRawAnswer;
};

// How one installer file is served.
struct ServedFile
{
    std::string mContents;
    // The first request stalls after this many body bytes until released.
    std::optional<size_t> mStallAfter;
};

// Records every event of the manager, on the thread that fires them.
class EventRecorder : public UpdateManager::IEventListener<UpdateManager::ProductChangedEvent>,
                      public UpdateManager::IEventListener<UpdateManager::ProductListChangedEvent>,
                      public UpdateManager::IEventListener<UpdateManager::DownloadProgressEvent>
{
  public:
    void Attach(UpdateManager::UpdateManager& manager);
    void Detach(UpdateManager::UpdateManager& manager);
    void Clear();

    void notify(const UpdateManager::ProductChangedEvent& event) override;
    void notify(const UpdateManager::ProductListChangedEvent& event) override;
    void notify(const UpdateManager::DownloadProgressEvent& event) override;

    std::vector<std::string> mChanged;
    int mListChanged = 0;
    std::vector<UpdateManager::DownloadProgressEvent> mProgress;
    // Called after a ProductChangedEvent has been recorded.
    std::function<void(const std::string& sku)> mOnChanged;
};

// A temp HOME with its Downloads folder, a platform root with the stand-in
// tools (installed before anything reads the root), a loopback resource server with a
// catalogue of products and installer files, a captured log on
// "update_manager" (debug), "web" and "download" (debug), and a manager that
// talks to the server.
class ManagerFixture : public ::testing::Test
{
  protected:
    ManagerFixture();
    ~ManagerFixture() override;

    void Serve(const std::string& sku, const ServedProduct& product);
    void ServeFile(const std::string& name, const ServedFile& file);
    // A product whose installer file `name` holds `contents`, with the right
    // size and checksum.
    void ServeProductWithFile(const std::string& sku, const std::string& name,
                              const std::string& contents, std::optional<size_t> stallAfter = {});
    std::string FileUrl(const std::string& name) const;
    std::string ResourcePath(const std::string& sku) const;
    // Requests the server has seen for this path.
    size_t Hits(const std::string& path) const;

    // Builds the manager (scanner definition optional) and attaches the recorder.
    void MakeManager(const std::string& definitionFile = "");
    UpdateManager::UpdateManager& Manager() { return *mManager; }
    // Destroys the manager (ending its threads), then the log, and returns
    // everything the log printed.
    std::string FinishAndReadLog();

    UpdateManager::UpdateStatus Status(const std::string& sku) const;
    // Ticks the manager every few milliseconds until `done` holds (bounded).
    bool TickUntil(const std::function<bool()>& done, bool completedInstallers = false);
    bool TickUntilStatus(const std::string& sku, UpdateManager::UpdateStatus status);

    boost::filesystem::path Downloads() const;

    TempDirectory mHome;
    ScopedEnvironment mHomeVariable;
    // Stand-in platform tools, so that an install never reaches the machine's own.
    TempDirectory mPlatformRoot;
    ScopedEnvironment mPlatformRootVariable;
    std::optional<CapturedStdout> mCapture;
    LoopbackHttpServer mServer;
    std::unique_ptr<UpdateManager::UpdateManager> mManager;
    EventRecorder mEvents;

  private:
    ScriptedResponse Answer(const RecordedRequest& request);

    mutable std::mutex mCatalogueMutex;
    std::map<std::string, ServedProduct> mProducts;
    std::map<std::string, ServedFile> mFiles;
    std::map<std::string, size_t> mHits;
};

// Contents of a JSON resource list answer for one product.
std::string ResourceAnswer(const std::string& sku, const ServedProduct& product);
std::string Md5Hex(const std::string& contents);
// A deterministic, incompressible-looking body of `size` bytes.
std::string Payload(size_t size, char seed = 'a');

constexpr std::chrono::seconds kTickBound{60};

} // namespace Testing
} // namespace Korvane
