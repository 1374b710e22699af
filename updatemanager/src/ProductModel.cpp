#include "ProductModel.h"

namespace Korvane
{
namespace UpdateManager
{

ProductModel::ProductModel() = default;

ProductModel::ProductModel(const ProductDescription& description)
    : mDescription(description),
      mDownloader(std::make_shared<DownloaderBackgrounder>(description.mName))
{
}

ProductModel::ProductModel(const ProductModel& other) = default;

ProductModel& ProductModel::operator=(const ProductModel& other)
{
    if (this == &other)
        return *this;
    mDescription = other.mDescription;
    mInstaller = other.mInstaller;
    // The old worker goes here when this model held its last reference.
    mDownloader = other.mDownloader;
    return *this;
}

// Members go in reverse order: the worker first, then installer and description.
ProductModel::~ProductModel() = default;

} // namespace UpdateManager
} // namespace Korvane
