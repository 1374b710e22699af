#pragma once

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// The product with this SKU changed: new in the table, status changed, or
// install complete.
struct ProductChangedEvent
{
    std::string sku;
};

// The product table was refreshed.
struct ProductListChangedEvent
{
};

// Download progress of one product: while downloading `progress` is the
// fraction done (0.0 to 1.0); the completion event carries 100.0 and true.
struct DownloadProgressEvent
{
    std::string sku;
    double progress = 0.0;
    bool completed = false;
};

} // namespace UpdateManager
} // namespace Korvane
