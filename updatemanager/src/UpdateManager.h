#pragma once

#include "ProductDescription.h"
#include "ProductModel.h"
#include "UpdateManagerEvent.h"
#include "UpdateStatus.h"
#include "basictools/eventsystem.h"
#include "scanner/Scanner.h"

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// The engine's central object: owns the product table (one ProductModel per
// SKU), gathers the installed versions (scanner) and the latest descriptions
// (resource server), computes each product's status, and moves the products
// through their statuses on every tick.
//
// Every operation runs on the GUI thread, including the synchronous resource
// queries; listeners are called on that thread and may call the control
// operations back. Download workers and the install thread never touch the
// table: they publish their state in their own objects, read here.
class UpdateManager : public EventSource<ProductListChangedEvent>,
                      public EventSource<ProductChangedEvent>,
                      public EventSource<DownloadProgressEvent>
{
  public:
    using ProductTable = std::map<std::string, ProductModel>;
    using Descriptions = std::map<std::string, ProductDescription>;
    using LocalVersions = std::map<std::string, std::string>;

    // `definitionFile`: scanner definition (may be empty); `server`: resource
    // server host[:port], put in front of every resource path.
    UpdateManager(const std::string& definitionFile, const std::string& server);
    // Ends the install thread (after it has run every installer handed to it,
    // so this can block for the length of an install), then the download
    // workers with the table.
    ~UpdateManager() override;

    UpdateManager(const UpdateManager&) = delete;
    UpdateManager& operator=(const UpdateManager&) = delete;

    // --- Information cycle ---------------------------------------------------

    // Same as Update().
    void Create();
    // One product with a given installed version; the scanner is not asked.
    void Create(const std::string& sku, const std::string& localVersion);
    // Full cycle: scanned products plus the additional ones; products no
    // longer wanted leave the table.
    void Update();
    // One product; nothing leaves the table.
    void Update(const std::string& sku);
    // Merges descriptions into the table; fires ProductChangedEvent for each
    // new product and ProductListChangedEvent once at the end.
    void Update(Descriptions descriptions);

    // SKUs asked for even when the scanner does not find them installed.
    void SetAdditionalProducts(const std::set<std::string>& products);
    // Offline: no server request; products end in Unknown.
    void SetOnlineMode(bool online);

    // Descriptions for every SKU of `localVersions`; a SKU the server did not
    // describe gets a record with only its SKU and installed version.
    Descriptions ProcessProductInfo(const LocalVersions& localVersions);
    // The table at debug level on "update_manager".
    void LogData() const;

    // The local installer file for a download URL: the URL's last segment in
    // the user's Downloads folder. An empty path when that segment cannot name
    // a file in that folder (empty, ".", "..", a NUL, or a "/" once decoded);
    // such a product never gets a download.
    boost::filesystem::path GetOutputFileFromUrl(const std::string& url) const;

    // Throws std::out_of_range for a SKU not in the table.
    const ProductModel& GetProduct(const std::string& sku) const;
    // The model at `position` in SKU order; throws std::out_of_range outside
    // 0 to Count() - 1.
    const ProductModel& Product(int position) const;
    uint64_t Count() const;
    const ProductTable& Products() const;

    // --- Tick ----------------------------------------------------------------

    // Turns what the download workers and the install thread report into
    // status changes; each change is logged and announced.
    void ProcessState();
    // Handles at most one installer that the install thread has finished.
    void ProcessCompletedInstallers();

    // --- Controls ------------------------------------------------------------

    // Starts every product that needs a download; requests the install of
    // every product whose installer is available. No log.
    void LaunchDownload();
    // Starts the product's download (`force`: after deleting what was
    // downloaded). False when the product is unknown, has no usable installer
    // file, or (without `force`) its status does not allow a download.
    bool LaunchDownload(const std::string& sku, bool force);
    // Stops the download (waiting for it) and deletes the installer file and
    // its confirm file. False when the product is unknown or a file could not
    // be deleted.
    bool CancelDownload(const std::string& sku);
    // Asks the worker to stop (`wait`: until a running transfer has ended).
    // The status changes on the next tick. False when the product is unknown.
    bool StopDownload(const std::string& sku, bool wait);
    bool IsDownloading(const std::string& sku);
    // Requests the install of an available installer; the next tick hands it
    // to the install thread.
    bool LaunchInstall(const std::string& sku, bool silent);

  private:
    ProductModel* Find(const std::string& sku);
    void MergeExisting(ProductModel& model, const ProductDescription& description);
    void AddNew(const ProductDescription& description);
    void StartDownload(ProductModel& model);
    void ProcessDownload(const std::string& sku, ProductModel& model);
    bool HasUsableFile(const ProductModel& model) const;

    Scanner mScanner;
    std::string mResourceServer;
    ProductTable mProducts;
    std::set<std::string> mAdditionalProducts;
    bool mOnlineMode;
    // Installers handed to the install thread and not yet given back: the
    // thread holds their address, so their products must stay in the table.
    std::set<const Installer*> mInstallsInFlight;
};

} // namespace UpdateManager
} // namespace Korvane
