#include "ProductDescription.h"

#include <benchmark/benchmark.h>

#include <string>

using Korvane::UpdateManager::ProductDescription;

namespace
{
void BM_StringVersionToInt(benchmark::State& state, const std::string& text)
{
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(ProductDescription::StringVersionToInt(text));
    }
}

BENCHMARK_CAPTURE(BM_StringVersionToInt, two, std::string("1.2"));
BENCHMARK_CAPTURE(BM_StringVersionToInt, four, std::string("10.15.7.1234"));
BENCHMARK_CAPTURE(BM_StringVersionToInt, unusable, std::string("not_installed"));
BENCHMARK_CAPTURE(BM_StringVersionToInt, bad_third, std::string("1.2.3b"));
} // namespace

BENCHMARK_MAIN();
