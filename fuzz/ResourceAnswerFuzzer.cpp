// A resource server answer, as the body of the query: JSON parsing, the
// envelope checks and the product description built from the first resource.
#include "resources/HttpResourceClient.h"
#include "resources/ProductDescriptionFactory.h"
#include "resources/ProductResources.h"

#include <boost/property_tree/ptree.hpp>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

namespace
{
// The factory reports missing members on standard output; keep the run quiet
// (standard output gets its own buffer back before the sink goes).
struct QuietStandardOutput
{
    std::ostringstream mSink;
    std::streambuf* mOriginal = std::cout.rdbuf(mSink.rdbuf());
    ~QuietStandardOutput() { std::cout.rdbuf(mOriginal); }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QuietStandardOutput quiet;
    quiet.mSink.str(std::string());

    using namespace Korvane::UpdateManager;
    boost::property_tree::ptree answer;
    if (!HttpResourceClient::ParseAnswer(std::string(reinterpret_cast<const char*>(data), size),
                                         answer))
        return 0;
    const ProductResources resources(answer);
    if (!resources.IsValidResources())
        return 0;
    ProductDescriptionFactory factory;
    ProductDescription product;
    if (factory.Create("myproduct", "1.0.0", resources.GetProductProperties(), product))
    {
        ProductDescription::StringVersionToInt(product.mVersion);
        product.IsOsSupported();
    }
    return 0;
}
