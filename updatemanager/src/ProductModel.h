#pragma once

#include "ProductDescription.h"
#include "resources/Downloader.h"
#include "resources/Installer.h"

#include <memory>

namespace Korvane
{
namespace UpdateManager
{

// One entry of the update manager's product table: what is known about the
// product, its installer state and its download worker.
//
// Copies share the download worker (the pointer is copied, not the worker);
// the worker and its thread end with the last model that holds it. Used on
// the GUI thread only.
class ProductModel
{
  public:
    // Empty description, default installer (status Error), no worker.
    ProductModel();
    // Copies the description and starts a new download worker, named after
    // the product, whose thread runs at once.
    explicit ProductModel(const ProductDescription& description);
    ProductModel(const ProductModel& other);
    ProductModel& operator=(const ProductModel& other);
    ~ProductModel();

    ProductDescription mDescription;
    Installer mInstaller;
    std::shared_ptr<DownloaderBackgrounder> mDownloader;
};

} // namespace UpdateManager
} // namespace Korvane
